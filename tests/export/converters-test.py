#!/usr/bin/python3
"""Tests of korva-export's converters of trained voices (--from-vits, --from-coqui,
--from-piper, --from-hf) on checkpoints of the shared generator, made once per run.
Exit status 77 (skipped) when the shared generator is absent."""
import os
import re
import subprocess
import sys
import tempfile
import unittest

import torch

sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))
import vits_fixtures as fx  # noqa: E402

sys.path.insert(0, os.path.dirname(fx.TOOL))
sys.path.insert(0, os.path.dirname(fx.GENERATOR))
import voice_conversion  # noqa: E402
import vits_layout  # noqa: E402
from tensor_match import CheckpointError  # noqa: E402

SHAPES = ("ljs", "piper-multi")
WORK = tempfile.TemporaryDirectory(prefix="korva-converters-test-")
GENERATED = {}  # shape -> (G.pth, config.json), made on first use


def generated(shape):
    if shape not in GENERATED:
        GENERATED[shape] = fx.generate(shape, WORK.name)
    return GENERATED[shape]


def path(name):
    return os.path.join(WORK.name, name)


def korva_name(key):
    """korva's name for a public VITS key, written out by hand; None when korva drops it."""
    if key.startswith(("enc_q.", "dp.post_")):
        return None
    for theirs, ours in (("enc_p.", "text_encoder."), ("dec.", "waveform_decoder."), ("emb_g.", "emb_g.")):
        if key.startswith(theirs):
            return ours + key[len(theirs):]
    m = re.match(r"flow\.flows\.(\d+)\.(.*)", key)
    if m:
        return f"flow.flows.{int(m.group(1)) // 2}.{m.group(2)}"
    m = re.match(r"dp\.flows\.(\d+)\.(.*)", key)
    if m:
        k, tail = int(m.group(1)), m.group(2)
        tail = {"m": "translation", "logs": "log_scale"}.get(tail, tail) if k == 0 else tail
        return f"duration_predictor.flows.{(k + 1) // 2}.{tail}"
    return "duration_predictor." + key[len("dp."):]


class Problems(unittest.TestCase):
    def assert_refused(self, args, out, *expected):
        result = fx.export(*args, "--out", out)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        for text in expected:
            self.assertIn(text, result.stderr)
        self.assertIn("nothing written", result.stderr)
        self.assertFalse(os.path.exists(out))
        self.assertFalse(os.path.exists(out + ".partial"))
        return result.stderr


class FromVits(Problems):
    @classmethod
    def setUpClass(cls):
        cls.archives = {}
        for shape in SHAPES:
            checkpoint, config = generated(shape)
            out = path(f"{shape}-vits.pt")
            result = fx.export("--from-vits", checkpoint, "--config", config, "--out", out)
            assert result.returncode == 0, result.stderr
            cls.archives[shape] = (fx.read_archive(out), result.stdout, out)

    def test_every_tensor_is_the_checkpoints_under_korvas_name(self):
        for shape in SHAPES:
            (tensors, _), stdout, _ = self.archives[shape]
            state, _ = fx.load_vits(*generated(shape))
            expected = {korva_name(k): v for k, v in state.items() if korva_name(k)}
            self.assertEqual(sorted(tensors), sorted(expected), shape)
            for name, t in tensors.items():
                self.assertTrue(torch.equal(t, expected[name]), f"{shape} {name}")
            self.assertIn("dp.post_* (142), enc_q", stdout)

    def test_description_of_each_shape(self):
        import make_vits_checkpoint as generator
        for shape in SHAPES:
            (_, voice), _, _ = self.archives[shape]
            sizes = generator.SHAPES[shape]
            self.assertEqual(voice["format"], 1)
            self.assertEqual(voice["sample_rate"], 22050)
            self.assertEqual(voice["n_vocab"], sizes["n_vocab"])
            for key in ("inter_channels", "hidden_channels", "filter_channels", "n_heads", "n_layers", "kernel_size"):
                self.assertEqual(voice["text_encoder"][key], sizes[key], key)
            for key in ("resblock", "resblock_kernel_sizes", "resblock_dilation_sizes", "upsample_rates",
                        "upsample_kernel_sizes", "upsample_initial_channel"):
                self.assertEqual(voice["decoder"][key], sizes[key], key)
            self.assertEqual(voice["flow"], {"n_couplings": 4, "kernel_size": 5, "dilation_rate": 1, "n_layers": 4})
            self.assertEqual(voice["duration_predictor"]["filter_channels"], 192)
            self.assertEqual(voice["speakers"], {"n_speakers": sizes["n_speakers"],
                                                 "gin_channels": sizes["gin_channels"]})
            front_end = voice["front_end"]
            self.assertEqual((front_end["kind"], front_end["blank"]), ("espeak", 0))
            table = front_end["symbols"]
            for i, symbol in enumerate(generator.VITS_SYMBOLS):
                self.assertIn(i, table[symbol])
            self.assertEqual(table[" "], [16])
            self.assertEqual(table["'"][0], 176)
            self.assertEqual(sum(len(ids) for ids in table.values()), 178)

    def test_round_trip_through_the_cpp_reader(self):
        dump = os.environ.get("KORVA_MANIFEST_DUMP")
        if not dump:
            self.skipTest("KORVA_MANIFEST_DUMP is not set (run through ctest)")
        (tensors, _), _, out = self.archives["piper-multi"]
        read = subprocess.run([dump, out, path("values.f32")], capture_output=True, text=True)
        self.assertEqual(read.returncode, 0, read.stderr)
        listed = dict(line.split("\t") for line in read.stdout.splitlines())
        self.assertEqual(listed, {n: ",".join(map(str, t.shape)) for n, t in tensors.items()})

    def test_bad_inputs_list_every_problem_and_write_nothing(self):
        checkpoint, config = generated("ljs")
        state, cfg = fx.load_vits(checkpoint, config)
        broken = dict(state)
        del broken["flow.flows.2.post.bias"]
        broken["dec.conv_post.weight"] = torch.zeros(1, 31, 7)
        bad_config = {"data": {"sampling_rate": 22050}, "model": dict(cfg["model"], resblock=1)}  # copies
        del bad_config["model"]["upsample_rates"]
        torch.save({"model": broken}, path("broken.pth"))
        fx.write_json(path("bad-config.json"), bad_config)
        out = path("refused.pt")
        self.assert_refused(["--from-vits", path("broken.pth"), "--config", config], out, "2 problem(s)",
                            "missing tensor flow.flows.1.post.bias",
                            "dec.conv_post.weight: shape [1, 31, 7], korva's waveform_decoder.conv_post.weight "
                            "needs [1, 32, 7]")
        self.assert_refused(["--from-vits", checkpoint, "--config", path("bad-config.json")], out, "3 problem(s)",
                            "missing field data.add_blank", "missing field model.upsample_rates",
                            "field model.resblock is 1, expected a string")
        self.assert_refused(["--from-vits", path("absent.pth"), "--config", path("absent.json")], out,
                            "no such file: " + path("absent.pth"), "no such file: " + path("absent.json"))

    def test_inconsistent_sizes_are_named(self):
        checkpoint, config = generated("ljs")
        _, shared = fx.load_vits(checkpoint, config)
        cfg = {"data": dict(shared["data"], n_speakers=3),
               "model": dict(shared["model"], n_heads=5, upsample_kernel_sizes=[16, 16, 4])}
        fx.write_json(path("inconsistent.json"), cfg)
        self.assert_refused(["--from-vits", checkpoint, "--config", path("inconsistent.json")], path("x.pt"),
                            "hidden_channels 192 is not a multiple of n_heads 5",
                            "4 upsample_rates but 3 upsample_kernel_sizes", "3 speakers with gin_channels 0")

    def test_a_checkpoint_of_another_layout(self):
        checkpoint, config = generated("ljs")
        state, _ = fx.load_vits(checkpoint, config)
        torch.save({"model": {"text_encoder.embed_tokens.weight": state["enc_p.emb.weight"]}}, path("other.pth"))
        self.assert_refused(["--from-vits", path("other.pth"), "--config", config], path("x.pt"),
                            "none of its 1 tensor names is one --from-vits converts; it looks like one for --from-hf")

    def test_usage(self):
        checkpoint, config = generated("ljs")
        self.assertEqual(fx.export("--from-vits", checkpoint, "--out", path("x.pt")).returncode, 2)
        self.assertEqual(fx.export("--random-init", "1", "--config", config, "--out", path("x.pt")).returncode, 2)


class Library(unittest.TestCase):
    def test_weight_norm_spellings_and_plain_weights_fill_the_same_slots(self):
        checkpoint, config = generated("piper-multi")
        reference = voice_conversion.convert(vits_layout, checkpoint, config)
        state, _ = fx.load_vits(checkpoint, config)
        torch.save({"model": fx.parametrized(state)}, path("parametrized.pth"))
        respelled = voice_conversion.convert(vits_layout, path("parametrized.pth"), config)
        self.assertEqual([n for n, _ in respelled.tensors], [n for n, _ in reference.tensors])
        for (name, a), (_, b) in zip(respelled.tensors, reference.tensors):
            self.assertTrue(torch.equal(a, b), name)
        both = {k: state[k] for k in ("dec.ups.0.weight_g", "dec.ups.0.weight_v")}
        torch.save({"model": dict(both, **{"dec.ups.0.weight": torch.zeros(256, 128, 16)})}, path("both.pth"))
        with self.assertRaises(CheckpointError) as caught:
            voice_conversion.convert(vits_layout, path("both.pth"), config)
        self.assertIn("waveform_decoder.ups.0.weight_g: given both plainly and as a weight_g/weight_v pair",
                      str(caught.exception))


if __name__ == "__main__":
    if not os.path.exists(fx.GENERATOR):
        print(f"skipped: the shared checkpoint generator {fx.GENERATOR} is absent")
        sys.exit(77)
    try:
        result = unittest.main(verbosity=2, exit=False).result
    finally:
        WORK.cleanup()
    sys.exit(0 if result.wasSuccessful() else 1)
