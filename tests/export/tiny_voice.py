"""Tiny random voices with a description, written for a test run: they make
noise, quickly, and read text and frame ids as a converted voice of their
front-end does."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.realpath(__file__)), "..", "..", "tools", "export"))
import torch  # noqa: E402

import architecture  # noqa: E402
import voice_description  # noqa: E402
from archive_writer import write_archive  # noqa: E402


def write_tiny_voice(path, front_end, n_vocab, sample_rate=16000):
    """Writes a voice of `front_end` (voice.json's front_end object), `n_vocab`
    symbols and a frame of 256 samples at `sample_rate` to `path`."""
    voice = voice_description.describe(
        sample_rate, n_vocab,
        {"inter_channels": 8, "hidden_channels": 8, "filter_channels": 16, "n_heads": 2,
         "n_layers": 1, "kernel_size": 3},
        {"resblock": "2", "resblock_kernel_sizes": [3], "resblock_dilation_sizes": [[1, 3]],
         "upsample_rates": [8, 8, 4], "upsample_kernel_sizes": [16, 16, 8],
         "upsample_initial_channel": 16},
        {"n_speakers": 0, "gin_channels": 0}, front_end,
        flow={"n_couplings": 1, "kernel_size": 3, "dilation_rate": 1, "n_layers": 1},
        duration_predictor=voice_description.stochastic_predictor(8))
    problems = voice_description.check(voice)
    assert not problems, problems
    generator = torch.Generator().manual_seed(3)
    tensors = []
    for t in architecture.build(voice):
        rows = [(torch.rand((n,) + tuple(t.shape[1:]), generator=generator) * 2 - 1) * a + c
                for n, a, c in t.init]
        tensors.append((t.name, torch.cat(rows).reshape(t.shape)))
    write_archive(tensors, path, {voice_description.RECORD: voice_description.encode(voice)})
