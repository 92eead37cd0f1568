#!/usr/bin/python3
"""The eager reference (vits_eager.py) exported to ONNX, for timing ONNX Runtime on it.

    vits_onnx.py G.pth config.json --out voice.onnx [--check IDS]

The graph is the eager reference's inference with the same weights, rewritten
only where tracing needs it: the relative-position terms of attention as
gathers over a [t, t] offset table instead of pad-and-reshape, the spline of
the duration predictor over every element with a select instead of boolean
indexing, the alignment as a product with the path matrix instead of
repeat_interleave, channel flips as index selects. The two random draws are
inputs, so that a run can be given the eager reference's own noise:

    ids          int64 [1, N]      framed token ids
    sdp_noise    float [1, 2, N]   the duration predictor's draw (before its scale)
    prior_noise  float [1, C, T]   the prior's draw, T the frames the durations give
    scales       float [3]         noise_scale, length_scale, noise_scale_w
    sid          int64 [1]         speaker (only for voices of several speakers)
    -> wave      float [S]

--check speaks IDS (comma-separated, seed 0) through the eager reference and
through ONNX Runtime (the onnxruntime Python module, if installed) and prints
the largest sample difference; without the module it only exports.
"""
import argparse
import json
import math
import sys

import torch
import torch.nn.functional as F

import vits_eager as ve


def reversed_channels(x):
    # A constant index: the channel count is fixed by the weights.
    return x.index_select(1, torch.tensor(list(range(int(x.shape[1]) - 1, -1, -1))))


def attention(self, x, mask):
    """vits_eager.Attention.forward with the relative terms as gathers."""
    b, c, t = x.shape
    q, k, v = (f(x).view(b, self.h, self.d, t).transpose(2, 3)
               for f in (self.conv_q, self.conv_k, self.conv_v))
    q = q / math.sqrt(self.d)
    scores = q @ k.transpose(-2, -1)
    w = ve.WINDOW
    positions = torch.arange(t)
    offset = positions.unsqueeze(0) - positions.unsqueeze(1)  # [t, t]: key - query
    near = (offset.abs() <= w).float()
    rel = q @ self.emb_rel_k[0].transpose(0, 1)  # [b, h, t, 2w + 1]
    index = (offset.clamp(-w, w) + w).expand(b, self.h, t, t)
    scores = scores + torch.gather(rel, 3, index) * near
    p = F.softmax(scores.masked_fill(mask == 0, -1e4), dim=-1)
    out = p @ v
    band = positions.unsqueeze(1) + torch.arange(2 * w + 1).unsqueeze(0) - w  # [t, 2w + 1]
    inside = ((band >= 0) & (band < t)).float()
    p_band = torch.gather(p, 3, band.clamp(0, t - 1).expand(b, self.h, t, 2 * w + 1)) * inside
    out = out + p_band @ self.emb_rel_v[0]
    return self.conv_o(out.transpose(2, 3).contiguous().view(b, c, t))


def spline_inverse(y, widths, heights, derivatives):
    """vits_eager.spline_inverse on every element, the identity selected outside."""
    b = ve.TAIL_BOUND
    inside = (y >= -b) & (y <= b)
    yc = y.clamp(-b, b)
    end = math.log(math.exp(1 - ve.MIN_DERIVATIVE) - 1)
    ud = F.pad(derivatives, [1, 1], value=end)
    k = widths.shape[-1]

    def knots(unnormalised):
        size = ve.MIN_BIN + (1 - ve.MIN_BIN * k) * F.softmax(unnormalised, dim=-1)
        edges = torch.cumsum(size, dim=-1)[..., :-1] * (2 * b) - b
        ones = torch.ones_like(edges[..., :1])
        edges = torch.cat([-b * ones, edges, b * ones], -1)
        return edges, edges[..., 1:] - edges[..., :-1]

    cw, w = knots(widths)
    ch, h = knots(heights)
    bump = torch.zeros(k + 1)
    bump[-1] = 1e-6
    solved = ve.spline_solve(yc, cw, w, ch, h, ve.MIN_DERIVATIVE + F.softplus(ud), ch + bump)
    return torch.where(inside, solved, y)


def conv_flow_reverse(self, x, x_mask, g):
    x0, x1 = torch.split(x, [1, 1], 1)
    h = self.proj(self.convs(self.pre(x0), x_mask, g)) * x_mask
    h = h.reshape(1, 1, -1, x.size(2)).permute(0, 1, 3, 2)
    scale = math.sqrt(self.filt)
    bins = ve.SDP_BINS
    x1 = spline_inverse(x1, h[..., :bins] / scale, h[..., bins:2 * bins] / scale,
                        h[..., 2 * bins:])
    return torch.cat([x0, x1], 1) * x_mask


class Exported(torch.nn.Module):
    """The eager model's inference with its noise as inputs."""

    def __init__(self, model):
        super().__init__()
        self.m = model
        for module in model.modules():
            if isinstance(module, ve.Attention):
                module.forward = attention.__get__(module)
            elif isinstance(module, ve.ConvFlow):
                module.reverse = conv_flow_reverse.__get__(module)

    def forward(self, ids, sdp_noise, prior_noise, scales, sid=None):
        m = self.m
        noise_scale, length_scale, noise_scale_w = scales[0], scales[1], scales[2]
        x, m_p, logs_p, x_mask = m.enc_p(ids)
        g = m.emb_g(sid).unsqueeze(-1) if m.emb_g is not None else None
        logw = self.durations(x, x_mask, g, sdp_noise * noise_scale_w)
        w_ceil = torch.ceil(torch.exp(logw) * x_mask * length_scale)[0, 0]  # [N]
        ends = torch.cumsum(w_ceil, 0)
        frames = torch.arange(prior_noise.size(2)).float()
        # path[n, t]: frame t belongs to token n
        path = ((frames.unsqueeze(0) < ends.unsqueeze(1)).float()
                - (frames.unsqueeze(0) < (ends - w_ceil).unsqueeze(1)).float())
        m_p, logs_p = m_p @ path, logs_p @ path
        z_p = m_p + prior_noise * torch.exp(logs_p) * noise_scale
        z = z_p
        for coupling in reversed(m.flow.flows[::2]):
            z = coupling.reverse(reversed_channels(z), torch.ones_like(z[:, :1]), g)
        return m.dec(z, g)[0, 0]

    def durations(self, x, x_mask, g, z):
        dp = self.m.dp
        if not isinstance(dp, ve.StochasticDurationPredictor):
            return dp(x, x_mask, g, 0.0)
        x = dp.pre(x)
        if g is not None:
            x = x + dp.cond(g)
        x = dp.proj(dp.convs(x, x_mask)) * x_mask
        for flow in [dp.flows[k] for k in (7, 5, 3)] + [dp.flows[0]]:
            z = flow.reverse(reversed_channels(z), x_mask, x)
        return z[:, :1]


def noise(model, ids, seed, sid=0, noise_scale=0.667, noise_scale_w=0.8, length_scale=1.0):
    """The eager reference's two draws for `ids` under `seed`, and its waveform."""
    torch.manual_seed(seed)
    wave, w_ceil, _ = model.infer(ids, sid, noise_scale, noise_scale_w, length_scale)
    torch.manual_seed(seed)
    sdp = torch.randn(1, 2, len(ids))
    prior = torch.randn(1, model.flow.flows[0].half * 2, int(w_ceil.sum()))
    return sdp, prior, wave


def export(model, path, opset=15):
    exported = Exported(model).eval()
    ids = torch.tensor([[0, 20, 0, 30, 0, 40, 0]])
    sdp, prior, _ = noise(model, ids[0].tolist(), 0)
    scales = torch.tensor([0.667, 1.0, 0.8])
    args = [ids, sdp, prior, scales]
    names = ["ids", "sdp_noise", "prior_noise", "scales"]
    if model.emb_g is not None:
        args.append(torch.tensor([0]))
        names.append("sid")
    axes = {"ids": {1: "n"}, "sdp_noise": {2: "n"}, "prior_noise": {2: "t"}, "wave": {0: "s"}}
    with torch.no_grad():
        torch.onnx.export(exported, tuple(args), path, input_names=names, output_names=["wave"],
                          dynamic_axes=axes, opset_version=opset)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("checkpoint")
    ap.add_argument("config")
    ap.add_argument("--out", required=True)
    ap.add_argument("--check", help="comma-separated framed ids to compare on")
    a = ap.parse_args()
    model = ve.load(a.checkpoint, a.config)
    export(model, a.out)
    if not a.check:
        return 0
    try:
        import onnxruntime
    except ImportError:
        print("no onnxruntime Python module: exported, not compared")
        return 0
    ids = [int(i) for i in a.check.split(",")]
    sdp, prior, wave = noise(model, ids, 0)
    feed = {"ids": torch.tensor([ids]).numpy(), "sdp_noise": sdp.numpy(),
            "prior_noise": prior.numpy(), "scales": torch.tensor([0.667, 1.0, 0.8]).numpy()}
    if model.emb_g is not None:
        feed["sid"] = torch.tensor([0]).numpy()
    out = onnxruntime.InferenceSession(a.out).run(None, feed)[0]
    print(f"max |onnx - eager| {float((torch.from_numpy(out) - wave).abs().max()):.3g}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
