#!/usr/bin/python3
"""Tests of korva-export's converters of trained voices (--from-vits, --from-coqui,
--from-piper, --from-hf) on checkpoints of the shared generator, made once per run.
Exit status 77 (skipped) when the shared generator is absent."""
import os
import subprocess
import sys
import tempfile
import unittest

import torch

sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))
import vits_fixtures as fx  # noqa: E402

sys.path.insert(0, os.path.dirname(fx.TOOL))
sys.path.insert(0, os.path.dirname(fx.GENERATOR))
import coqui_layout  # noqa: E402
import hf_layout  # noqa: E402
import piper_layout  # noqa: E402
import voice_conversion  # noqa: E402
import voice_description  # noqa: E402
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


ARCHIVES = {}  # shape -> ((tensors, description), stdout, path) of its --from-vits archive


def vits_archive(shape):
    if shape not in ARCHIVES:
        checkpoint, config = generated(shape)
        out = path(f"{shape}-vits.pt")
        result = fx.export("--from-vits", checkpoint, "--config", config, "--out", out)
        assert result.returncode == 0, result.stderr
        ARCHIVES[shape] = (fx.read_archive(out), result.stdout, out)
    return ARCHIVES[shape]


def reference(shape):
    """{name: tensor} of the shape's --from-vits conversion."""
    return vits_archive(shape)[0][0]


class FromVits(Problems):
    @classmethod
    def setUpClass(cls):
        cls.archives = {shape: vits_archive(shape) for shape in SHAPES}

    def test_every_tensor_is_the_checkpoints_under_korvas_name(self):
        for shape in SHAPES:
            (tensors, _), stdout, _ = self.archives[shape]
            state, _ = fx.load_vits(*generated(shape))
            expected = {fx.korva_name(k): v for k, v in state.items() if fx.korva_name(k)}
            self.assertEqual(sorted(tensors), sorted(expected), shape)
            for name, t in tensors.items():
                self.assertTrue(torch.equal(t, expected[name]), f"{shape} {name}")
            self.assertIn("dp.post_* (142), duration_predictor.flows.1.* (28), enc_q", stdout)

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


class OtherLayouts(Problems):
    """Each layout's fixture, made from a generated checkpoint, against its --from-vits conversion."""

    def assert_same_tensors(self, shape, tensors, folded=False):
        expected = reference(shape)
        if folded:
            expected, tensors = fx.fold(expected), fx.fold(tensors)
        self.assertEqual(sorted(tensors), sorted(expected))
        for name, t in tensors.items():
            self.assertTrue(torch.allclose(t, expected[name], rtol=1e-6, atol=1e-7) if folded
                            else torch.equal(t, expected[name]), name)

    def cli(self, flag, source, config, name):
        out = path(name)
        result = fx.export(flag, source, *(["--config", config] if config else []), "--out", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        return fx.read_archive(out) + (result.stdout,)

    def coqui_files(self, shape, spelling):
        state, config = fx.load_vits(*generated(shape))
        checkpoint, coqui_config = fx.coqui(state, config, spelling)
        torch.save(checkpoint, path(f"{shape}-coqui.pth"))
        fx.write_json(path(f"{shape}-coqui.json"), coqui_config)
        return path(f"{shape}-coqui.pth"), path(f"{shape}-coqui.json")

    def test_coqui(self):
        tensors, voice, stdout = self.cli("--from-coqui", *self.coqui_files("ljs", "weight_g/v"), "coqui.pt")
        emb = tensors.pop("text_encoder.emb.weight")
        self.assertTrue(torch.equal(emb[:178], reference("ljs")["text_encoder.emb.weight"]))
        self.assertTrue(torch.equal(emb[178], torch.full([192], 0.25)))
        tensors["text_encoder.emb.weight"] = reference("ljs")["text_encoder.emb.weight"]
        self.assert_same_tensors("ljs", tensors)
        self.assertIn("disc (1)", stdout)
        self.assertIn("duration_predictor.flows.1.* (28), duration_predictor.post_* (142), posterior_encoder (100)",
                      stdout)
        self.assertEqual((voice["n_vocab"], voice["front_end"]["blank"], voice["front_end"]["kind"]),
                         (179, 178, "espeak"))
        self.assertEqual(voice["front_end"]["symbols"]["'"][0], 176)
        self.assertNotIn("<BLNK>", voice["front_end"]["symbols"])
        self.assertEqual(voice["inference"], {"noise_scale": 0.5, "noise_scale_w": 0.9, "length_scale": 1.1})

        names = {"p225": 0, "p226": 1, "p.227": 2, "p228": 3}
        fx.write_json(path("speakers.json"), names)  # found beside the config, not where training kept it
        multi = voice_conversion.convert(coqui_layout, *self.coqui_files("piper-multi", "parametrizations"))
        converted = dict(multi.tensors)
        self.assertIn("waveform_decoder.cond.weight", converted)
        self.assertEqual(multi.voice["speakers"], {"n_speakers": 4, "gin_channels": 512, "names": names})
        self.assertEqual(multi.voice["decoder"]["resblock"], "2")
        del converted["text_encoder.emb.weight"]
        expected = {k: v for k, v in reference("piper-multi").items() if k != "text_encoder.emb.weight"}
        self.assertEqual(sorted(converted), sorted(expected))
        for name, t in converted.items():
            self.assertTrue(torch.equal(t, expected[name]), name)

    def piper_files(self, shape, spelling, with_sizes, **config_extra):
        state, config = fx.load_vits(*generated(shape))
        checkpoint, voice = fx.piper(state, config, spelling, with_sizes)
        for key, value in config_extra.items():  # merged into the config's own sections
            voice.setdefault(key, {}).update(value)
        torch.save(checkpoint, path(f"{shape}-piper.ckpt"))
        fx.write_json(path(f"{shape}-piper.onnx.json"), voice)
        return path(f"{shape}-piper.ckpt"), path(f"{shape}-piper.onnx.json")

    def test_piper(self):
        silences = {"sentence_silence": 0.3, "phoneme_silence": {"ə": 0.1}}
        files = self.piper_files("ljs", "parametrizations", True, inference=silences, phoneme_map={"ɐ": ["ə"]})
        tensors, voice, stdout = self.cli("--from-piper", *files, "piper.pt")
        self.assert_same_tensors("ljs", tensors)
        self.assertIn("model_d (1)", stdout)
        front_end = voice["front_end"]
        self.assertEqual((front_end["blank"], front_end["start"], front_end["end"]), (0, 1, 2))
        self.assertEqual((front_end["kind"], front_end["language"]), ("piper", "en-gb"))
        self.assertEqual(front_end["symbols"]["b"], [5, 6])
        self.assertEqual((front_end["phoneme_map"], front_end["sentence_silence"], front_end["phoneme_silence"]),
                         ({"ɐ": ["ə"]}, 0.3, {"ə": 0.1}))
        self.assertEqual(voice["inference"], {"noise_scale": 0.6, "noise_scale_w": 0.7, "length_scale": 1.2})
        self.assertEqual(voice["decoder"]["upsample_rates"], [8, 8, 2, 2])

        # sizes left to Piper's defaults: its medium quality, the piper shapes
        multi = voice_conversion.convert(piper_layout, *self.piper_files("piper-multi", "weight_g/v", False))
        self.assert_same_tensors("piper-multi", dict(multi.tensors))
        self.assertNotIn("phoneme_silence", multi.voice["front_end"])  # the config gives none
        self.assertEqual(multi.voice["speakers"], {"n_speakers": 4, "gin_channels": 512, "names": {
            "speaker0": 0, "speaker1": 1, "speaker2": 2, "speaker3": 3}})

    def test_hugging_face(self):
        state, config = fx.load_vits(*generated("ljs"))
        directory = fx.hf(state, config, path("hf"), "parametrizations")
        tensors, voice, stdout = self.cli("--from-hf", directory, None, "hf.pt")
        self.assertIn("waveform_decoder.ups.0.weight", tensors)
        self.assert_same_tensors("ljs", tensors, folded=True)
        self.assertIn("duration_predictor.flows.1.* (28), duration_predictor.post_* (142), posterior_encoder (100)",
                      stdout)
        front_end = voice["front_end"]
        self.assertEqual((front_end["kind"], front_end["blank"], front_end["symbols"]["a"]), ("characters", 0, [43]))
        self.assertEqual(voice["inference"]["length_scale"], 0.5)

        binary = fx.hf(state, config, path("hf-bin"), "weight_g/v", weights="pytorch_model.bin")
        self.assert_same_tensors("ljs", dict(voice_conversion.convert(hf_layout, binary).tensors), folded=True)

    def test_hugging_face_names_the_fixtures_do_not_cover(self):
        for theirs, ours in (("embed_speaker.weight", "emb_g.weight"), ("decoder.cond.bias", "waveform_decoder.cond.bias"),
                             ("duration_predictor.cond.weight", "duration_predictor.cond.weight"),
                             ("flow.flows.3.wavenet.cond_layer.weight_g", "flow.flows.3.enc.cond_layer.weight_g"),
                             ("duration_predictor.norm_2.bias", "duration_predictor.norm_2.beta"),
                             ("duration_predictor.conv_1.weight", "duration_predictor.conv_1.weight")):
            self.assertEqual(hf_layout.rename(theirs), ours)

    def test_bad_inputs_list_every_problem_and_write_nothing(self):
        checkpoint, config = generated("ljs")
        state, shared = fx.load_vits(checkpoint, config)
        _, coqui_config = fx.coqui({"enc_p.emb.weight": state["enc_p.emb.weight"]}, shared, "weight_g/v")
        del coqui_config["characters"], coqui_config["audio"]
        coqui_config["model_args"]["use_d_vector_file"] = True
        fx.write_json(path("bad-coqui.json"), coqui_config)
        torch.save({"config": {}, "model": {"text_encoder.emb.weight": state["enc_p.emb.weight"]}},
                   path("small-coqui.pth"))
        self.assert_refused(["--from-coqui", path("small-coqui.pth"), "--config", path("bad-coqui.json")],
                            path("x.pt"), "missing field audio.sample_rate", "missing field characters.pad",
                            "use_d_vector_file is true: korva does not run speaker d-vectors")

        _, voice = fx.piper({}, shared, "weight_g/v", True)
        del voice["phoneme_id_map"]["^"]
        voice["phoneme_id_map"]["x"] = 9
        voice["phoneme_id_map"]["ab"] = [5]
        voice["phoneme_type"] = "text"
        voice["espeak"] = {"voice": "xx-none"}
        fx.write_json(path("bad-piper.onnx.json"), voice)
        torch.save({"epoch": 1}, path("bad-piper.ckpt"))
        self.assert_refused(["--from-piper", path("bad-piper.ckpt"), "--config", path("bad-piper.onnx.json")],
                            path("x.pt"), "expected a Lightning checkpoint", "phoneme_id_map has no '^' (the start id)",
                            "phoneme_id_map['x'] is 9, expected a list of ids",
                            "phoneme_id_map key 'ab' is not one phoneme",
                            "phoneme_type is 'text'", "espeak.voice 'xx-none' is not a voice of espeak-ng")

        os.makedirs(path("bad-hf"), exist_ok=True)
        with open(path("bad-hf/model.safetensors"), "wb") as f:
            f.write(b"\x10\0\0\0\0\0\0\0{not json}")
        self.assert_refused(["--from-hf", path("bad-hf")], path("x.pt"), "unreadable header",
                            "no such file: " + path("bad-hf/config.json"))
        fx.write_json(path("bad-hf/config.json"), {"hidden_size": 192})
        fx.write_json(path("bad-hf/vocab.json"), {"a": "x"})
        self.assert_refused(["--from-hf", path("bad-hf")], path("x.pt"), "unreadable header",
                            "config.json: missing field vocab_size", "'a' maps to \"x\", expected an id")
        self.assert_refused(["--from-hf", path("absent")], path("x.pt"), "no such directory")


class Library(unittest.TestCase):
    def test_deterministic_duration_predictor(self):
        checkpoint, config = generated("piper-multi")
        state, shared = fx.load_vits(checkpoint, config)
        sizes = {"conv_1.weight": [256, 192, 3], "conv_1.bias": [256], "norm_1.gamma": [256], "norm_1.beta": [256],
                 "conv_2.weight": [256, 256, 3], "conv_2.bias": [256], "norm_2.gamma": [256], "norm_2.beta": [256],
                 "proj.weight": [1, 256, 1], "proj.bias": [1], "cond.weight": [192, 512, 1], "cond.bias": [192]}
        predictor = {"dp." + name: torch.full(shape, 0.5) for name, shape in sizes.items()}
        deterministic = {**{k: v for k, v in state.items() if not k.startswith("dp.")}, **predictor}
        torch.save({"model": deterministic}, path("deterministic.pth"))
        fx.write_json(path("deterministic.json"), {**shared, "model": {**shared["model"], "use_sdp": False}})
        conversion = voice_conversion.convert(vits_layout, path("deterministic.pth"), path("deterministic.json"))
        self.assertEqual(conversion.voice["duration_predictor"],
                         {"kind": "deterministic", "filter_channels": 256, "kernel_size": 3})
        converted = dict(conversion.tensors)
        self.assertEqual(sorted(n for n in converted if n.startswith("duration_predictor.")),
                         sorted("duration_predictor." + name for name in sizes))
        self.assertEqual(len(converted), len(reference("piper-multi")) - len(
            [n for n in reference("piper-multi") if n.startswith("duration_predictor.")]) + len(sizes))

    def test_a_weight_given_in_both_forms_is_refused(self):
        checkpoint, config = generated("piper-multi")
        state, _ = fx.load_vits(checkpoint, config)
        both = {k: state[k] for k in ("dec.ups.0.weight_g", "dec.ups.0.weight_v")}
        torch.save({"model": dict(both, **{"dec.ups.0.weight": torch.zeros(256, 128, 16)})}, path("both.pth"))
        with self.assertRaises(CheckpointError) as caught:
            voice_conversion.convert(vits_layout, path("both.pth"), config)
        self.assertIn("waveform_decoder.ups.0.weight_g: given both plainly and as a weight_g/weight_v pair",
                      str(caught.exception))

    def test_description_check_names_each_field(self):
        voice = voice_description.describe(
            22050, 10, {"inter_channels": 191, "hidden_channels": 192, "filter_channels": 768, "n_heads": 2,
                        "n_layers": 0, "kernel_size": 3},
            {"resblock": "3", "resblock_kernel_sizes": [4], "resblock_dilation_sizes": [[1], [2]],
             "upsample_rates": [8, 8], "upsample_kernel_sizes": [16, 15], "upsample_initial_channel": 512},
            {"n_speakers": 2, "gin_channels": 0, "names": {"a": 5}}, {"kind": "x", "symbols": {"a": [12]}, "blank": 11},
            {"noise_scale": 0, "noise_scale_w": 0, "length_scale": 1})
        self.assertEqual(voice_description.check(voice), ["text_encoder.n_layers is 0, expected a positive number"])
        voice["text_encoder"]["n_layers"] = 6
        self.assertEqual(voice_description.check(voice), [
            "text_encoder.inter_channels 191 is odd: the flow halves it",
            "decoder.resblock_kernel_sizes[0] is 4: an even kernel would change the length",
            'decoder.resblock is \'3\', expected "1" or "2"',
            "decoder: 1 resblock_kernel_sizes but 2 resblock_dilation_sizes",
            "decoder: upsample kernel 15 does not fit rate 8 (needs kernel >= rate, kernel - rate even)",
            "speakers: 2 speakers with gin_channels 0 (several speakers need a speaker embedding width, one speaker none)",
            "speakers.names['a'] is 5, outside 0..1",
            "front_end.kind is 'x', expected one of korva, espeak, characters, piper",
            "front_end.blank is 11, outside the vocabulary of 10",
            "front_end.symbols['a'] is [12]: needs ids within the vocabulary of 10"])


if __name__ == "__main__":
    fx.run_tests(fx.GENERATOR, f"the shared checkpoint generator {fx.GENERATOR} is absent", WORK)
