#!/usr/bin/python3
"""Tests of korva-export --from-onnx: the shared golden Piper voices (every weight,
the sizes, the config, their waveforms through `korva speak`), the same voices as
older and other exporters write them, and the files it must refuse.

KORVA_CLI names the korva program and KORVA_MANIFEST_DUMP the manifest reader;
the tests that need one skip without it. Exit status 77 (skipped) when the shared
golden data is absent."""
import copy
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import wave

import numpy
import onnx
import torch
from onnx import helper

sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))
import vits_fixtures as fx  # noqa: E402

sys.path.insert(0, os.path.dirname(fx.TOOL))
sys.path.insert(0, os.path.dirname(fx.GENERATOR))
import onnx_layout  # noqa: E402
import voice_conversion  # noqa: E402
from tensor_match import CheckpointError  # noqa: E402

# One thread each, here and in the programs run: the voices are tiny, and idle
# worker threads would only spin.
os.environ["OMP_NUM_THREADS"] = "1"
torch.set_num_threads(1)
GOLDEN = os.path.join(os.path.dirname(fx.GENERATOR), "piper")
WORK = tempfile.TemporaryDirectory(prefix="korva-onnx-test-")
VOICES = ("tiny", "tiny-multi")
# The golden file's tolerance holds on the CPU type it was computed on; it allows ten times more elsewhere.
OTHER_CPU = 10.0
MAX_ULP = 4
CONVERTED = {}  # voice -> ((tensors, description), stdout, archive path)


def path(name):
    return os.path.join(WORK.name, name)


def golden(name):
    return os.path.join(GOLDEN, name)


def cases():
    with open(golden("piper-cases.json"), encoding="utf-8") as f:
        return json.load(f)


def converted(voice):
    """The golden voice converted by the command line, beside-config default included."""
    if voice not in CONVERTED:
        out = path(f"{voice}.pt")
        result = fx.export("--from-onnx", golden(f"{voice}.onnx"), "--out", out)
        assert result.returncode == 0, result.stderr
        CONVERTED[voice] = (fx.read_archive(out), result.stdout, out)
    return CONVERTED[voice]


def convert(onnx_path, config):
    """{korva name: tensor}, description of an in-process conversion."""
    conversion = voice_conversion.convert(onnx_layout, onnx_path, config)
    return dict(conversion.tensors), conversion.voice


def assert_same_voice(test, tensors, reference, folded=()):
    """Equal tensors, those whose names start with `folded` within MAX_ULP."""
    test.assertEqual(sorted(tensors), sorted(reference))
    for name, t in tensors.items():
        if name.startswith(tuple(folded)):
            test.assertLessEqual(fx.ulps(t.numpy(), reference[name].numpy()), MAX_ULP, name)
        else:
            test.assertTrue(torch.equal(t, reference[name]), name)


def run(*args):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=600)


def cli():
    korva = os.environ.get("KORVA_CLI")
    if not korva:
        raise unittest.SkipTest("KORVA_CLI is not set (run through ctest)")
    return korva


class GoldenVoices(unittest.TestCase):
    def test_every_weight_is_recovered(self):
        data = cases()
        for voice in VOICES:
            (tensors, _), _, _ = converted(voice)
            about = data["voices"][voice]
            flow = numpy.fromfile(golden(about["flow_weights_file"]), dtype="<f4")
            expected = {fx.korva_name(w["name"]): w for w in about["weights"]}
            self.assertEqual(sorted(tensors), sorted(expected), voice)
            for name, w in expected.items():
                values = tensors[name].numpy()
                self.assertEqual(list(values.shape), w["shape"], name)
                digest = hashlib.sha256(values.astype("<f4").tobytes()).hexdigest()
                if w["weight_norm_folded"] == "flow":
                    eager = flow[w["offset"]: w["offset"] + values.size]
                    self.assertLessEqual(fx.ulps(values, eager), MAX_ULP, name)
                    self.assertEqual(digest, w["sha256_onnx"], name)
                else:
                    self.assertEqual(digest, w["sha256"], f"{voice} {name}")

    def test_sizes_are_derived_from_the_graph(self):
        for voice in VOICES:
            (_, described), _, _ = converted(voice)
            hyper = cases()["voices"][voice]["hyper_parameters"]
            self.assertEqual(described["n_vocab"], hyper["n_vocab"])
            for key in ("inter_channels", "hidden_channels", "filter_channels", "n_heads", "n_layers",
                        "kernel_size"):
                self.assertEqual(described["text_encoder"][key], hyper[key], key)
            for key in ("resblock", "resblock_kernel_sizes", "resblock_dilation_sizes", "upsample_rates",
                        "upsample_kernel_sizes", "upsample_initial_channel"):
                self.assertEqual(described["decoder"][key], hyper[key], key)
            flow, dp = hyper["flow"], hyper["duration_predictor"]
            self.assertEqual(described["flow"], {"n_couplings": flow["n_flows"], "kernel_size": flow["kernel_size"],
                                                 "dilation_rate": flow["dilation_rate"], "n_layers": flow["n_layers"]})
            self.assertEqual(described["duration_predictor"], {
                "kind": dp["type"], "filter_channels": dp["filter_channels"], "kernel_size": dp["kernel_size"],
                "n_dds_layers": dp["n_layers"], "n_flows": dp["n_flows"], "num_bins": dp["num_bins"],
                "tail_bound": dp["tail_bound"]})
            self.assertEqual(described["speakers"]["n_speakers"], max(hyper["n_speakers"], 1))
            self.assertEqual(described["speakers"]["gin_channels"], hyper["gin_channels"])

    def test_config_is_mapped(self):
        for voice in VOICES:
            (_, described), stdout, _ = converted(voice)
            with open(golden(f"{voice}.onnx.json"), encoding="utf-8") as f:
                config = json.load(f)
            self.assertEqual(described["sample_rate"], config["audio"]["sample_rate"])
            self.assertEqual(described["front_end"], {
                "kind": "piper", "language": config["espeak"]["voice"], "symbols": config["phoneme_id_map"],
                "blank": 0, "start": 1, "end": 2})
            self.assertEqual(described["inference"], {"noise_scale": 0.667, "noise_scale_w": 0.8, "length_scale": 1})
            self.assertEqual(described["speakers"].get("names", {}), config["speaker_id_map"])
            self.assertIn("front-end piper", stdout)

    def test_the_cpp_reader_lists_every_tensor(self):
        dump = os.environ.get("KORVA_MANIFEST_DUMP")
        if not dump:
            self.skipTest("KORVA_MANIFEST_DUMP is not set (run through ctest)")
        (tensors, _), _, out = converted("tiny-multi")
        read = run(dump, out, path("values.f32"))
        self.assertEqual(read.returncode, 0, read.stderr)
        listed = dict(line.split("\t") for line in read.stdout.splitlines())
        self.assertEqual(listed, {n: ",".join(map(str, t.shape)) for n, t in tensors.items()})

    def speak_case(self, korva, case):
        out = path(case["name"] + ".f32")
        # -v: frames and durations are read from the progress lines.
        args = [korva, "speak", "-v", "-m", converted(case["voice"])[2], "--ids", ",".join(map(str, case["ids"])),
                "--noise-scale", "0", "--noise-scale-w", "0", "--length-scale", str(case["length_scale"]),
                "--rate", "native", "--format", "f32", "-o", out]
        if case["sid"] is not None:
            args += ["--speaker", str(case["sid"])]
        result = run(*args)
        self.assertEqual(result.returncode, 0, result.stderr[-2000:])
        self.assertNotIn("did not provide", result.stderr)  # nothing the voice needs is missing
        return numpy.fromfile(out, dtype="<f4"), result.stderr

    def test_golden_waveforms(self):
        korva, data = cli(), cases()
        limit = data["tolerance"]["wave_abs"] * OTHER_CPU
        for case in data["cases"]:
            expected = case["expected"]
            samples, log = self.speak_case(korva, case)
            self.assertEqual(len(samples), expected["n_samples"], case["name"])
            self.assertEqual(re.search(r"\[korva\] T_dec=(\d+)", log).group(1), str(expected["frames"]))
            first = re.search(r"\[korva\] w_ceil per token:([ \d]*)", log).group(1).split()
            self.assertEqual([int(v) for v in first], expected["durations"][: len(first)], case["name"])
            reference = numpy.fromfile(golden(expected["wave"]), dtype="<f4")
            self.assertLessEqual(float(numpy.abs(samples - reference).max()), limit, case["name"])

    def test_text_through_the_piper_front_end(self):
        korva, archive, text = cli(), converted("tiny")[2], "Hello, world."
        with open(golden("tiny.onnx.json"), encoding="utf-8") as f:
            table = json.load(f)["phoneme_id_map"]
        shown = run(korva, "phonemize", "-m", archive, text)
        self.assertEqual(shown.returncode, 0, shown.stderr[-2000:])
        phonemes, ids = shown.stdout.splitlines()
        # the voice's own ids in Piper's framing: "^", a pad after every id, "$"
        self.assertEqual([int(i) for i in ids.split()],
                         [1, 0] + [i for c in phonemes for i in (table[c][0], 0)] + [2])
        quiet = ["--noise-scale", "0", "--noise-scale-w", "0", "--rate", "native"]
        spoken = [run(korva, "speak", "-m", archive, *quiet, "--format", "f32", "-o", path(name), *how)
                  for name, how in (("text.f32", [text]), ("ids.f32", ["--ids", ids.replace(" ", ",")]))]
        self.assertEqual([r.returncode for r in spoken], [0, 0], spoken[0].stderr[-2000:])
        samples = numpy.fromfile(path("text.f32"), dtype="<f4")
        self.assertTrue(numpy.array_equal(samples, numpy.fromfile(path("ids.f32"), dtype="<f4")))
        self.assertEqual(len(samples) % 256, 0)
        result = run(korva, "speak", "-m", archive, *quiet, "-o", path("text.wav"), text)
        self.assertEqual(result.returncode, 0, result.stderr[-2000:])
        with wave.open(path("text.wav")) as w:
            self.assertEqual((w.getframerate(), w.getnchannels(), w.getnframes()), (22050, 1, len(samples)))
            self.assertGreater(int(numpy.abs(numpy.frombuffer(w.readframes(w.getnframes()), "<i2")).max()), 1000)

    def test_speak_names_the_command_that_converts_an_onnx_voice(self):
        model = path("voice.onnx")
        shutil.copy(golden("tiny.onnx"), model)
        result = run(cli(), "speak", "-m", model, "-o", path("never.wav"), "Hello.")
        self.assertEqual(result.returncode, 1)
        self.assertIn(f"korva-export --from-onnx {model} --out {path('voice.pt')}", result.stderr)
        self.assertFalse(os.path.exists(path("never.wav")))


def tiny_v1_voice():
    """A tiny checkpoint of the other public layout: HiFi-GAN resblock type 1 in four
    stages, five speakers, and the deterministic duration predictor."""
    import make_vits_checkpoint as generator
    generator.SHAPES["tiny-v1"] = dict(
        n_vocab=178, n_speakers=5, gin_channels=8, inter_channels=16, hidden_channels=16, filter_channels=32,
        n_heads=2, n_layers=2, kernel_size=3, p_dropout=0.1, n_layers_q=3, use_spectral_norm=False, resblock="1",
        resblock_kernel_sizes=[3, 7, 11], resblock_dilation_sizes=[[1, 3, 5]] * 3, upsample_rates=[8, 8, 2, 2],
        upsample_kernel_sizes=[16, 16, 4, 4], upsample_initial_channel=32)
    state = {k: v for k, v in generator.build("tiny-v1", 3) if not k.startswith("dp.")}
    config = generator.config("tiny-v1")
    config["model"]["use_sdp"] = False
    draw = torch.Generator().manual_seed(5)
    for name, shape in (("conv_1.weight", [24, 16, 3]), ("conv_1.bias", [24]), ("norm_1.gamma", [24]),
                        ("norm_1.beta", [24]), ("conv_2.weight", [24, 24, 3]), ("conv_2.bias", [24]),
                        ("norm_2.gamma", [24]), ("norm_2.beta", [24]), ("proj.weight", [1, 24, 1]),
                        ("proj.bias", [1]), ("cond.weight", [16, 8, 1]), ("cond.bias", [16])):
        state["dp." + name] = (torch.rand(shape, generator=draw) - 0.5) * 0.4 + (1.0 if "gamma" in name else 0.0)
    return state, config


class OtherExports(unittest.TestCase):
    def test_an_older_exporter_without_node_names(self):
        # numbers for generated names, no node names, initializers listed as graph inputs
        # too (the text embedding "sid" among them)
        model = onnx.load(golden("tiny.onnx"))
        g = model.graph
        numbers = {t.name: str(9000 + i) for i, t in enumerate(g.initializer) if t.name.startswith("onnx::")}
        for node in g.node:
            node.name = ""
            node.input[:] = [numbers.get(name, name) for name in node.input]
        for t in g.initializer:
            t.name = numbers.get(t.name, t.name)
            g.input.append(helper.make_tensor_value_info(t.name, t.data_type, list(t.dims)))
        self.assertEqual(len(numbers), 33)  # the flow's 32 folded weights and the affine step's -logs
        onnx.save(model, path("older.onnx"))
        tensors, _ = convert(path("older.onnx"), golden("tiny.onnx.json"))
        assert_same_voice(self, tensors, converted("tiny")[0][0])

    def test_the_generator_as_sherpa_onnx_exports_it(self):
        import onnx_fixtures
        state, config = fx.load_vits(*fx.generate("piper-tiny-multi", WORK.name))
        onnx_fixtures.export(state, config, "sherpa", path("sherpa.onnx"))
        model = onnx.load(path("sherpa.onnx"))
        self.assertEqual([i.name for i in model.graph.input],
                         ["x", "x_length", "noise_scale", "length_scale", "noise_scale_w", "sid"])
        self.assertEqual([o.name for o in model.graph.output], ["y"])
        result = fx.export("--from-onnx", path("sherpa.onnx"), "--config", golden("tiny-multi.onnx.json"),
                           "--out", path("sherpa.pt"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("metadata 'note'", result.stdout)
        (tensors, described), _, _ = converted("tiny-multi")
        # the exporter folded the decoder's weight norm too, with its own rounding
        ours, ours_described = fx.read_archive(path("sherpa.pt"))
        assert_same_voice(self, ours, tensors, folded=("waveform_decoder.ups.", "waveform_decoder.resblocks.",
                                                       "flow.flows."))
        self.assertEqual(ours_described, described)

    def test_resblock_type_1_and_the_deterministic_predictor(self):
        import onnx_fixtures
        state, config = tiny_v1_voice()
        onnx_fixtures.export(state, config, "piper", path("v1.onnx"))
        fx.write_json(path("v1.onnx.json"), onnx_fixtures.voice_config(config, 178))
        tensors, described = convert(path("v1.onnx"), None)
        expected = fx.fold({fx.korva_name(k): v for k, v in state.items() if fx.korva_name(k)})
        assert_same_voice(self, tensors, expected, folded=("flow.flows.", "waveform_decoder.ups.",
                                                            "waveform_decoder.resblocks."))
        model = config["model"]
        for key in ("resblock", "resblock_kernel_sizes", "resblock_dilation_sizes", "upsample_rates",
                    "upsample_kernel_sizes", "upsample_initial_channel"):
            self.assertEqual(described["decoder"][key], model[key], key)
        self.assertEqual(described["duration_predictor"], {"kind": "deterministic", "filter_channels": 24,
                                                           "kernel_size": 3})
        self.assertEqual(described["speakers"]["n_speakers"], 5)

        # and it speaks as the eager network does
        out = path("v1.pt")
        self.assertEqual(fx.export("--from-onnx", path("v1.onnx"), "--out", out).returncode, 0)
        ids = [1, 0, 20, 0, 35, 0, 60, 0, 16, 0, 48, 0, 2]
        result = run(cli(), "speak", "-m", out, "--ids", ",".join(map(str, ids)), "--speaker", "3",
                     "--noise-scale", "0", "--noise-scale-w", "0", "--rate", "native", "--format", "f32",
                     "-o", path("v1.f32"))
        self.assertEqual(result.returncode, 0, result.stderr[-2000:])
        eager = onnx_fixtures.eager_generator(state, config, "piper")
        reference = eager.infer(ids, 3, 0.0, 0.0, 1.0)[0].numpy()
        samples = numpy.fromfile(path("v1.f32"), dtype="<f4")
        self.assertEqual(len(samples), len(reference))
        self.assertLess(float(numpy.abs(samples - reference).max()), 1e-4)


def nested_model(depth):
    graph = helper.make_graph([], "innermost", [], [])
    for i in range(depth):
        node = helper.make_node("If", ["c"], [f"o{i}"], then_branch=graph)
        graph = helper.make_graph([node], f"level{i}", [], [])
    return helper.make_model(graph)


def not_a_generator():
    weight = helper.make_tensor("w", onnx.TensorProto.FLOAT, [1, 1, 3], [0.25, 0.5, 0.25])
    graph = helper.make_graph([helper.make_node("Conv", ["x", "w"], ["y"])], "smoothing",
                              [helper.make_tensor_value_info("x", onnx.TensorProto.FLOAT, [1, 1, 10])],
                              [helper.make_tensor_value_info("y", onnx.TensorProto.FLOAT, [1, 1, 8])], [weight])
    return helper.make_model(graph)


def golden_with(change):
    model = onnx.load(golden("tiny.onnx"))
    change({t.name: t for t in model.graph.initializer})
    return model


def external(initializers):
    t = initializers["dec.conv_pre.weight"]
    size = len(t.raw_data)
    t.ClearField("raw_data")
    t.data_location = onnx.TensorProto.EXTERNAL
    for key, value in (("location", "../../../../etc/passwd"), ("offset", "0"), ("length", str(size))):
        t.external_data.add(key=key, value=value)


class Refusals(unittest.TestCase):
    def refused(self, onnx_path, config, *expected):
        with self.assertRaises(CheckpointError) as raised:
            voice_conversion.convert(onnx_layout, onnx_path, config)
        for text in expected:
            self.assertIn(text, str(raised.exception))

    def write(self, name, model_or_bytes):
        target = path(name)
        with open(target, "wb") as f:
            f.write(model_or_bytes if isinstance(model_or_bytes, bytes) else model_or_bytes.SerializeToString())
        return target

    def test_the_command_line_writes_nothing(self):
        config = golden("tiny.onnx.json")
        for name, content, reason in (
                ("text.onnx", b"ir_version: 8\ngraph { node { op_type: 'Conv' } }\n", "not an ONNX model"),
                ("nested.onnx", nested_model(20), "hostile: messages nested more than 32 levels deep"),
                ("smoothing.onnx", not_a_generator(), "not a VITS generator")):
            out = path(name + ".pt")
            result = fx.export("--from-onnx", self.write(name, content), "--config", config, "--out", out)
            self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
            self.assertIn(reason, result.stderr)
            self.assertIn("nothing written", result.stderr)
            self.assertFalse(os.path.exists(out) or os.path.exists(out + ".partial"))

    def test_damaged_and_hostile_files(self):
        config = golden("tiny.onnx.json")
        with open(golden("tiny.onnx"), "rb") as f:
            whole = f.read()
        self.refused(self.write("half.onnx", whole[: len(whole) // 2]), config, "truncated")
        self.refused(self.write("empty.onnx", b""), config, "an empty file")
        self.refused(self.write("external.onnx", golden_with(external)), config,
                     "tensor 'dec.conv_pre.weight' (as dec.conv_pre.weight) keeps its values in an external file "
                     "('../../../../etc/passwd')")
        huge = golden_with(lambda t: t["sid"].dims.__setitem__(0, 1 << 40))
        self.refused(self.write("huge.onnx", huge), config, "hostile: tensor 'sid' (as enc_p.emb.weight) claims")
        short = golden_with(lambda t: setattr(t["enc_p.proj.bias"], "raw_data", t["enc_p.proj.bias"].raw_data[4:]))
        self.refused(self.write("short.onnx", short), config, "holds 124 bytes, its shape [32] needs 128")
        self.refused(path("absent.onnx"), config, "no such file: " + path("absent.onnx"))

    def test_a_config_that_disagrees_with_the_graph(self):
        with open(golden("tiny.onnx.json"), encoding="utf-8") as f:
            config = json.load(f)
        wrong = copy.deepcopy(config)
        wrong.update(num_symbols=300, num_speakers=2)
        wrong["phoneme_id_map"]["ʘ"] = [256]
        fx.write_json(path("wrong.onnx.json"), wrong)
        self.refused(golden("tiny.onnx"), path("wrong.onnx.json"),
                     "num_symbols is 300, the model's text embedding has 256",
                     "num_speakers is 2, the model has one speaker")
        del wrong["num_symbols"], wrong["num_speakers"]
        fx.write_json(path("wrong.onnx.json"), wrong)
        self.refused(golden("tiny.onnx"), path("wrong.onnx.json"),
                     "front_end.symbols['ʘ'] is [256]: needs ids within the vocabulary of 256")
        multi = dict(config, num_speakers=3, speaker_id_map={"a": 0, "b": 1, "c": 2})
        fx.write_json(path("multi.onnx.json"), multi)
        self.refused(golden("tiny.onnx"), path("multi.onnx.json"), "num_speakers is 3, the model has one speaker")
        shutil.copy(golden("tiny.onnx"), path("alone.onnx"))
        self.refused(path("alone.onnx"), None, "no such file: " + path("alone.onnx.json"))


if __name__ == "__main__":
    fx.run_tests(golden("piper-cases.json"), f"no shared golden Piper voices at {GOLDEN}", WORK)
