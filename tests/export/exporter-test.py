#!/usr/bin/python3
"""Tests of tools/export/korva-export: VITS renaming, checks that write nothing,
and a round trip through korva's C++ reader (KORVA_MANIFEST_DUMP names the
manifest-dump helper; without it that test skips)."""
import os
import re
import stat
import subprocess
import sys
import tempfile
import unittest

import numpy
import torch

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.realpath(__file__))))
TOOL = os.path.join(ROOT, "tools", "export", "korva-export")
sys.path.insert(0, os.path.dirname(TOOL))

import architecture  # noqa: E402
from archive_writer import ArchiveError, write_archive  # noqa: E402
from random_voice import random_voice  # noqa: E402
from vits_checkpoint import CheckpointError, convert, generator_state, rename  # noqa: E402

VOICE = random_voice(11)  # full size; shared, as it takes a while


def vits_name(name):
    """The public VITS training code's name for a korva checkpoint name, written out by hand."""
    for ours, theirs in (("text_encoder.", "enc_p."), ("duration_predictor.", "dp."),
                         ("waveform_decoder.", "dec."), ("flow.", "flow.")):
        if name.startswith(ours):
            rest = name[len(ours):]
            break
    m = re.match(r"(flows|post_flows)\.(\d)\.(.*)", rest)
    if theirs == "dp." and m:
        k = int(m.group(2))
        tail = {"translation": "m", "log_scale": "logs"}.get(m.group(3), m.group(3))
        rest = f"{m.group(1)}.{2 * k - 1 if k else 0}.{tail}"
    m = re.match(r"flows\.(\d)\.(.*)", rest)
    if theirs == "flow." and m:
        rest = f"flows.{2 * int(m.group(1))}.{m.group(2)}"
    return theirs + rest


def export(*args):
    return subprocess.run([sys.executable, TOOL, *args], capture_output=True, text=True)


class Renaming(unittest.TestCase):
    def test_networks_and_flip_indices(self):
        cases = {
            "enc_p.encoder.attn_layers.0.conv_q.weight": "text_encoder.encoder.attn_layers.0.conv_q.weight",
            "dp.flows.0.m": "duration_predictor.flows.0.translation",
            "dp.flows.0.logs": "duration_predictor.flows.0.log_scale",
            "dp.flows.1.pre.weight": "duration_predictor.flows.1.pre.weight",
            "dp.flows.7.proj.bias": "duration_predictor.flows.4.proj.bias",
            "dp.post_flows.5.convs.norms_1.2.gamma": "duration_predictor.post_flows.3.convs.norms_1.2.gamma",
            "dp.post_pre.weight": "duration_predictor.post_pre.weight",
            "flow.flows.6.enc.in_layers.7.weight_v": "flow.flows.3.enc.in_layers.7.weight_v",
            "dec.ups.3.weight_g": "waveform_decoder.ups.3.weight_g",
        }
        for theirs, ours in cases.items():
            self.assertEqual(rename(theirs), ours, theirs)
        for unused in ("enc_q.pre.weight", "emb_g.weight", "model", "dp"):
            self.assertIsNone(rename(unused), unused)

    def test_every_architecture_name_comes_from_its_vits_name(self):
        for t in architecture.TENSORS:
            self.assertEqual(rename(vits_name(t.name)), t.name)


class Evil:
    """Pickles to a call that would create `marker`."""

    def __init__(self, marker):
        self.marker = marker

    def __reduce__(self):
        return (os.mkdir, (self.marker,))


class Exporter(unittest.TestCase):
    """One full-size fake generator checkpoint, shared by the tests below."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory(prefix="korva-export-test-")
        cls.state = {vits_name(name): t for name, t in VOICE}
        cls.state["enc_q.pre.weight"] = torch.zeros(4, 3)
        cls.state["enc_q.proj.bias"] = torch.zeros(4)
        cls.checkpoint = cls.path("G_1000.pth")
        torch.save({"model": cls.state, "iteration": 1000, "learning_rate": 2e-4,
                    "optimizer": {"state": {}, "param_groups": [{"lr": 2e-4}]}}, cls.checkpoint)

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    @classmethod
    def path(cls, name):
        return os.path.join(cls.dir.name, name)

    def export_state(self, state, out):
        checkpoint = self.path("edited.pth")
        torch.save(state, checkpoint)
        return export("--from-checkpoint", checkpoint, "--out", out)

    def assert_nothing_written(self, result, out, *expected):
        self.assertEqual(result.returncode, 1, result.stderr)
        for text in expected:
            self.assertIn(text, result.stderr)
        self.assertIn("nothing written", result.stderr)
        self.assertFalse(os.path.exists(out))
        self.assertFalse(os.path.exists(out + ".partial"))

    def test_round_trip_through_the_cpp_reader(self):
        dump = os.environ.get("KORVA_MANIFEST_DUMP")
        if not dump:
            self.skipTest("KORVA_MANIFEST_DUMP is not set (run through ctest)")
        out = self.path("voice.pt")
        result = export("--from-checkpoint", self.checkpoint, "--out", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("dropped 2 tensors korva does not use: enc_q (2)", result.stdout)
        self.assertIn("left aside top-level entries: iteration, learning_rate, optimizer", result.stdout)

        values = self.path("values.f32")
        read = subprocess.run([dump, out, values], capture_output=True, text=True)
        self.assertEqual(read.returncode, 0, read.stderr)
        listed = [line.split("\t") for line in read.stdout.splitlines()]
        expected = dict(VOICE)
        self.assertEqual(sorted(name for name, _ in listed), sorted(expected))
        flat = numpy.fromfile(values, dtype="<f4")
        at = 0
        for name, shape in listed:
            t = expected[name]
            self.assertEqual(shape, ",".join(map(str, t.shape)), name)
            got = torch.from_numpy(flat[at: at + t.numel()].copy()).reshape(t.shape)
            self.assertTrue(torch.equal(got, t), name)
            at += t.numel()
        self.assertEqual(at, flat.size)

    def test_plain_state_dict_is_accepted(self):
        state, left_aside = generator_state(self.state)
        self.assertIs(state, self.state)
        self.assertEqual(left_aside, [])

    def test_shape_mismatch_writes_nothing(self):
        out = self.path("mismatch.pt")
        result = self.export_state({"dec.ups.0.weight_v": torch.zeros(512, 256, 16)}, out)
        self.assert_nothing_written(result, out, "dec.ups.0.weight_v: shape [512, 256, 16], korva's "
                                                 "waveform_decoder.ups.0.weight_v needs [1024, 512, 16]")

    def test_missing_unknown_and_non_float_tensors_are_refused(self):
        state = dict(self.state)
        del state["flow.flows.2.post.bias"]
        state["dp.flows.2.weight"] = torch.zeros(1)
        state["dp.cond.weight"] = torch.zeros(192, 256, 1)
        state["enc_p.proj.bias"] = torch.zeros(384, dtype=torch.int64)
        with self.assertRaises(CheckpointError) as caught:
            convert(state)
        message = str(caught.exception)
        for text in ("4 problem(s)", "missing tensor flow.flows.1.post.bias", "dp.flows.2.weight: no such tensor",
                     "dp.cond.weight: no such tensor", "enc_p.proj.bias: torch.int64 values"):
            self.assertIn(text, message)

    def test_refuses_code_in_the_pickle(self):
        out = self.path("evil.pt")
        marker = self.path("ran")
        result = self.export_state({"x": Evil(marker)}, out)
        self.assert_nothing_written(result, out, "refusing to load")
        self.assertFalse(os.path.exists(marker))

    def test_unreadable_checkpoint(self):
        bad = self.path("bad.pth")
        with open(bad, "w") as f:
            f.write("not a checkpoint")
        out = self.path("bad.pt")
        self.assert_nothing_written(export("--from-checkpoint", bad, "--out", out), out, "cannot read")
        self.assert_nothing_written(export("--from-checkpoint", self.path("absent.pth"), "--out", out), out,
                                    "no such file")

    def test_an_output_that_would_destroy_something_is_refused(self):
        fifo, folder = self.path("fifo"), self.path("folder")
        os.mkfifo(fifo)
        os.mkdir(folder)
        for out, why in ((fifo, "not a regular file"), (folder, "not a regular file"),
                         (self.path("absent/voice.pt"), "does not exist")):
            result = export("--from-checkpoint", self.checkpoint, "--out", out)
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertIn(why, result.stderr)
            self.assertIn("nothing written", result.stderr)
        self.assertTrue(stat.S_ISFIFO(os.stat(fifo).st_mode) and os.path.isdir(folder))
        with open(self.checkpoint, "rb") as f:
            before = f.read()
        result = export("--from-checkpoint", self.checkpoint, "--out", self.checkpoint)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("which the conversion reads", result.stderr)
        with open(self.checkpoint, "rb") as f:
            self.assertEqual(f.read(), before)

    def test_usage(self):
        self.assertEqual(export("--help").returncode, 0)
        self.assertEqual(export("--out", self.path("x.pt")).returncode, 2)
        self.assertEqual(export("--random-init", "1", "--from-checkpoint", "g", "--out", "x").returncode, 2)


class RandomVoice(unittest.TestCase):
    def test_deterministic_full_size_and_small(self):
        first, again, other = VOICE, random_voice(11), random_voice(12)
        self.assertEqual([(n, tuple(t.shape)) for n, t in first],
                         [(t.name, t.shape) for t in architecture.TENSORS])
        self.assertEqual(len(first), 834)
        for (name, a), (_, b) in zip(first, again):
            self.assertTrue(torch.equal(a, b), name)
        self.assertFalse(torch.equal(first[0][1], other[0][1]))
        for name, t in first:
            self.assertTrue(torch.isfinite(t).all(), name)
            self.assertLessEqual(t.abs().max().item(), 3.1, name)
        weights = dict(first)
        self.assertLess(weights["waveform_decoder.conv_post.weight"].abs().max().item(), 0.01)


class Writer(unittest.TestCase):
    def test_names_the_reader_would_lose_are_refused(self):
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "x.pt")
            for name in ("a.offset", "shape_proj", "my.storage_key", 'a"b', "a{b"):
                with self.assertRaises(ArchiveError, msg=name):
                    write_archive([(name, torch.zeros(1))], out)
            with self.assertRaises(ArchiveError):
                write_archive([("a", torch.zeros(1)), ("a", torch.zeros(1))], out)
            self.assertEqual(os.listdir(d), [])

    def test_small_tensors_share_records(self):
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "x.pt")
            self.assertEqual(write_archive([("a", torch.zeros(3)), ("b", torch.ones(2, 2))], out), 1)
            self.assertEqual(write_archive([("a", torch.zeros(1 << 21)), ("b", torch.ones(2))], out), 2)


if __name__ == "__main__":
    unittest.main(verbosity=2)
