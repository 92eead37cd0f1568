"""Coupling flow: the identity. Every shift is zero and the four channel flips cancel."""
import torch

from architecture import CHANNELS, SHAPES

COUPLING_LAYERS = 4
WAVENET_LAYERS = 8


def zero_weight_norm(base, out):
    """A weight-normalised convolution whose folded weight is zero: g = 0 with a non-zero
    direction (v = 0 would make the fold divide 0 by 0)."""
    out[base + ".weight_g"] = torch.zeros(SHAPES[base + ".weight_g"])
    out[base + ".weight_v"] = torch.ones(SHAPES[base + ".weight_v"])
    out[base + ".bias"] = torch.zeros(SHAPES[base + ".bias"])


def coupling_flow():
    out = {}
    half = CHANNELS // 2
    for n in range(COUPLING_LAYERS):
        p = f"flow.flows.{n}"
        out[p + ".pre.weight"], out[p + ".pre.bias"] = torch.zeros(CHANNELS, half, 1), torch.zeros(CHANNELS)
        out[p + ".post.weight"], out[p + ".post.bias"] = torch.zeros(half, CHANNELS, 1), torch.zeros(half)
        for i in range(WAVENET_LAYERS):
            zero_weight_norm(f"{p}.enc.in_layers.{i}", out)
            zero_weight_norm(f"{p}.enc.res_skip_layers.{i}", out)
    return out
