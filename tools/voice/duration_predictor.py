"""Duration predictor: whatever the noise, token t gets logw = ln(d(t) - 0.5) for its
table duration of d frames, so ceil(L * exp(logw)) is d at length scale L = 1.

The predictor's convolutions pass x(t) through unchanged; the spline flows read
their parameters from x(t) alone. In reverse, flow 4 collapses any noise value
onto one point and flow 2 moves that point to x = ln(d - 0.5) / 25, which the
affine step scales by 25.
"""
import math

import torch

from architecture import CHANNELS, VOCABULARY
from text_encoder import solve_projection

BINS = 10
PARAMS = 3 * BINS - 1
SCALE = math.sqrt(CHANNELS)                    # widths and heights are divided by this in the flow
IDENTITY_DERIVATIVE = math.log(math.exp(0.999) - 1.0)
AFFINE_GAIN = 25.0                              # logw = 25 x
SILENT_X = -4.94                                # logw = -123.5: exp is exactly 0 in float32

NARROW_BIN = 5          # the bin that collapses
TALL_LOGIT = 30.0       # heights: bin 5 takes nearly all of [-5, 5]
NARROW_LOGIT = math.log(1e-13)   # widths: bin 5 keeps only the minimum, 0.01 wide
FLAT_DERIVATIVE = -20.0          # at both ends of bin 5: the inverse is flattest mid-bin
COLLAPSE_POINT = 0.005           # where flow 4 sends every noise value: mid-height of flow 2's tall bin
MIN_SIZE = 0.001


def identity_spline():
    p = torch.zeros(PARAMS, dtype=torch.float64)
    p[2 * BINS:] = IDENTITY_DERIVATIVE
    return p


def collapsing_spline(centre):
    """Spline parameters whose inverse maps nearly all of [-5, 5] to `centre` +- a few 1e-6."""
    left_share = (centre + 5.0 - 5 * 10 * MIN_SIZE - 10 * MIN_SIZE / 2) / (10 * (1 - BINS * MIN_SIZE))
    if not 0.0 < left_share < 1.0:
        raise ValueError(f"cannot place the narrow bin at {centre}")
    widths = torch.full((BINS,), math.log((1.0 - left_share) / (BINS - NARROW_BIN - 1)), dtype=torch.float64)
    widths[:NARROW_BIN] = math.log(left_share / NARROW_BIN)
    widths[NARROW_BIN] = NARROW_LOGIT
    heights = torch.zeros(BINS, dtype=torch.float64)
    heights[NARROW_BIN] = TALL_LOGIT
    derivatives = torch.full((BINS - 1,), IDENTITY_DERIVATIVE, dtype=torch.float64)
    derivatives[NARROW_BIN - 1:NARROW_BIN + 1] = FLAT_DERIVATIVE   # knots 5 and 6
    return torch.cat([widths * SCALE, heights * SCALE, derivatives])


def target_x(frames):
    return SILENT_X if frames == 0 else math.log(frames - 0.5) / AFFINE_GAIN


def _dds(p, out):
    for i in range(3):
        out[f"{p}.convs_sep.{i}.weight"] = torch.zeros(CHANNELS, 1, 3)
        out[f"{p}.convs_sep.{i}.bias"] = torch.zeros(CHANNELS)
        out[f"{p}.convs_1x1.{i}.weight"] = torch.zeros(CHANNELS, CHANNELS, 1)
        out[f"{p}.convs_1x1.{i}.bias"] = torch.zeros(CHANNELS)
        for lst in ("norms_1", "norms_2"):
            out[f"{p}.{lst}.{i}.gamma"] = torch.ones(CHANNELS)
            out[f"{p}.{lst}.{i}.beta"] = torch.zeros(CHANNELS)


def _conv_flow(p, out, weight, bias):
    out[p + ".pre.weight"] = torch.zeros(CHANNELS, 1, 1)
    out[p + ".pre.bias"] = torch.zeros(CHANNELS)
    _dds(p + ".convs", out)
    out[p + ".proj.weight"] = weight.float().reshape(PARAMS, CHANNELS, 1)
    out[p + ".proj.bias"] = bias.float()


def _flows(p, out, duration_flow=None):
    out[p + ".0.translation"] = torch.zeros(2, 1)
    log_scale = torch.zeros(2, 1)
    if duration_flow is not None:
        log_scale[0] = -math.log(AFFINE_GAIN)
    out[p + ".0.log_scale"] = log_scale
    no_weight = torch.zeros(PARAMS, CHANNELS)
    for k in range(1, 5):
        if duration_flow is not None and k == 4:
            _conv_flow(f"{p}.{k}", out, no_weight, collapsing_spline(COLLAPSE_POINT))
        elif duration_flow is not None and k == 2:
            _conv_flow(f"{p}.{k}", out, duration_flow, torch.zeros(PARAMS))
        else:
            _conv_flow(f"{p}.{k}", out, no_weight, identity_spline())


def duration_predictor(features, frames_of):
    """{name: tensor}; features is x(t) [CHANNELS, VOCABULARY], frames_of(t) the duration table."""
    per_token = torch.stack([collapsing_spline(target_x(frames_of(t))) for t in range(VOCABULARY)], dim=1)
    out = {}
    p = "duration_predictor."
    eye = torch.eye(CHANNELS).reshape(CHANNELS, CHANNELS, 1)
    out[p + "pre.weight"], out[p + "pre.bias"] = eye.clone(), torch.zeros(CHANNELS)
    _dds(p + "convs", out)
    out[p + "proj.weight"], out[p + "proj.bias"] = eye.clone(), torch.zeros(CHANNELS)
    _flows(p + "flows", out, solve_projection(per_token, features))
    out[p + "post_pre.weight"], out[p + "post_pre.bias"] = torch.zeros(CHANNELS, 1, 1), torch.zeros(CHANNELS)
    _dds(p + "post_convs", out)
    out[p + "post_proj.weight"], out[p + "post_proj.bias"] = eye.clone(), torch.zeros(CHANNELS)
    _flows(p + "post_flows", out)
    return out
