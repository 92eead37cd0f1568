"""A full-size voice with small deterministic random weights. It makes noise,
not speech: bounded in loudness, with durations of a few frames per token."""
import torch

from architecture import TENSORS


def random_voice(seed):
    """[(name, tensor), ...] for every tensor of the architecture, the same for the same seed."""
    generator = torch.Generator().manual_seed(seed)
    out = []
    for tensor in TENSORS:
        rows = []
        for count, a, centre in tensor.init:
            shape = (count,) + tensor.shape[1:]
            rows.append((torch.rand(shape, generator=generator) * 2 - 1) * a + centre)
        out.append((tensor.name, torch.cat(rows).reshape(tensor.shape)))
    return out
