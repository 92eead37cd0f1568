#!/usr/bin/python3
"""VITS inference in plain PyTorch eager mode: the reference korva is timed against.

    vits_eager.py G.pth config.json --check [--golden DIR]

Builds the networks to the sizes of a checkpoint in the public VITS training
layout ({"model": state_dict}, config with "data" and "model" sections), folds
weight norm once at load, and runs inference without gradients. --check
speaks the golden cases of the checkpoint's shape and compares them with the
stored waveforms within the golden file's tolerance (exit 1 on a mismatch).
"""
import argparse
import array
import json
import math
import os
import sys

import numpy as np
import torch
import torch.nn.functional as F
from torch import nn

LRELU_SLOPE = 0.1
# Sizes the public code fixes in its constructors rather than in the config.
FLOW_KERNEL, FLOW_DILATION, FLOW_LAYERS, N_FLOWS = 5, 1, 4, 4
SDP_KERNEL, SDP_LAYERS, SDP_FLOWS, SDP_BINS, TAIL_BOUND = 3, 3, 4, 10, 5.0
WINDOW = 4
MIN_BIN, MIN_DERIVATIVE = 1e-3, 1e-3


def conv(c_in, c_out, k=1, dilation=1, groups=1, bias=True):
    return nn.Conv1d(c_in, c_out, k, padding=dilation * (k - 1) // 2, dilation=dilation,
                     groups=groups, bias=bias)


class LayerNorm(nn.Module):
    def __init__(self, c):
        super().__init__()
        self.gamma, self.beta = nn.Parameter(torch.ones(c)), nn.Parameter(torch.zeros(c))

    def forward(self, x):
        return F.layer_norm(x.transpose(1, -1), self.gamma.shape, self.gamma, self.beta,
                            1e-5).transpose(1, -1)


# ---- text encoder ----------------------------------------------------------------

class Attention(nn.Module):
    def __init__(self, c, n_heads):
        super().__init__()
        self.h, self.d = n_heads, c // n_heads
        self.conv_q, self.conv_k, self.conv_v, self.conv_o = (conv(c, c) for _ in range(4))
        self.emb_rel_k = nn.Parameter(torch.zeros(1, 2 * WINDOW + 1, self.d))
        self.emb_rel_v = nn.Parameter(torch.zeros(1, 2 * WINDOW + 1, self.d))

    @staticmethod
    def relative(table, t):
        """Rows for offsets -(t-1) .. t-1; zero beyond the window."""
        pad = max(t - WINDOW - 1, 0)
        start = max(WINDOW + 1 - t, 0)
        return F.pad(table, [0, 0, pad, pad])[:, start:start + 2 * t - 1]

    def forward(self, x, mask):
        b, c, t = x.shape
        q, k, v = (f(x).view(b, self.h, self.d, t).transpose(2, 3)
                   for f in (self.conv_q, self.conv_k, self.conv_v))
        q = q / math.sqrt(self.d)
        scores = q @ k.transpose(-2, -1)
        rel = q @ self.relative(self.emb_rel_k, t).unsqueeze(0).transpose(-2, -1)
        # [b, h, t, 2t-1] relative -> [b, h, t, t] absolute by padding and reshaping
        rel = F.pad(rel, [0, 1]).view(b, self.h, 2 * t * t)
        scores = scores + F.pad(rel, [0, t - 1]).view(b, self.h, t + 1, 2 * t - 1)[:, :, :t, t - 1:]
        p = F.softmax(scores.masked_fill(mask == 0, -1e4), dim=-1)
        out = p @ v
        # and back: [b, h, t, t] -> [b, h, t, 2t-1]
        p_rel = F.pad(F.pad(p, [0, t - 1]).view(b, self.h, t * (2 * t - 1)), [t, 0])
        p_rel = p_rel.view(b, self.h, t, 2 * t)[:, :, :, 1:]
        out = out + p_rel @ self.relative(self.emb_rel_v, t).unsqueeze(0)
        return self.conv_o(out.transpose(2, 3).contiguous().view(b, c, t))


class FeedForward(nn.Module):
    def __init__(self, c, filt, k):
        super().__init__()
        self.conv_1, self.conv_2 = conv(c, filt, k), conv(filt, c, k)

    def forward(self, x, x_mask):
        x = torch.relu(self.conv_1(x * x_mask))
        return self.conv_2(x * x_mask) * x_mask


class Encoder(nn.Module):
    def __init__(self, c, filt, n_heads, n_layers, k):
        super().__init__()
        self.attn_layers = nn.ModuleList(Attention(c, n_heads) for _ in range(n_layers))
        self.norm_layers_1 = nn.ModuleList(LayerNorm(c) for _ in range(n_layers))
        self.ffn_layers = nn.ModuleList(FeedForward(c, filt, k) for _ in range(n_layers))
        self.norm_layers_2 = nn.ModuleList(LayerNorm(c) for _ in range(n_layers))

    def forward(self, x, x_mask):
        attn_mask = x_mask.unsqueeze(2) * x_mask.unsqueeze(-1)
        x = x * x_mask
        for attn, norm_1, ffn, norm_2 in zip(self.attn_layers, self.norm_layers_1,
                                             self.ffn_layers, self.norm_layers_2):
            x = norm_1(x + attn(x, attn_mask))
            x = norm_2(x + ffn(x, x_mask))
        return x * x_mask


class TextEncoder(nn.Module):
    def __init__(self, n_vocab, m):
        super().__init__()
        self.hidden, self.inter = m["hidden_channels"], m["inter_channels"]
        self.emb = nn.Embedding(n_vocab, self.hidden)
        self.encoder = Encoder(self.hidden, m["filter_channels"], m["n_heads"], m["n_layers"],
                               m["kernel_size"])
        self.proj = conv(self.hidden, 2 * self.inter)

    def forward(self, ids):
        x = (self.emb(ids) * math.sqrt(self.hidden)).transpose(1, -1)
        x_mask = torch.ones(1, 1, x.size(2))
        x = self.encoder(x, x_mask)
        m_p, logs_p = torch.split(self.proj(x) * x_mask, self.inter, dim=1)
        return x, m_p, logs_p, x_mask


# ---- duration predictors ------------------------------------------------------

class DDSConv(nn.Module):
    def __init__(self, c):
        super().__init__()
        self.convs_sep = nn.ModuleList(conv(c, c, SDP_KERNEL, SDP_KERNEL ** i, groups=c)
                                       for i in range(SDP_LAYERS))
        self.convs_1x1 = nn.ModuleList(conv(c, c) for _ in range(SDP_LAYERS))
        self.norms_1 = nn.ModuleList(LayerNorm(c) for _ in range(SDP_LAYERS))
        self.norms_2 = nn.ModuleList(LayerNorm(c) for _ in range(SDP_LAYERS))

    def forward(self, x, x_mask, g=None):
        if g is not None:
            x = x + g
        for sep, n1, c1, n2 in zip(self.convs_sep, self.norms_1, self.convs_1x1, self.norms_2):
            x = x + F.gelu(n2(c1(F.gelu(n1(sep(x * x_mask))))))
        return x * x_mask


def spline_inverse(y, widths, heights, derivatives):
    """Inverse of the monotone rational-quadratic spline on [-B, B], identity outside."""
    inside = (y >= -TAIL_BOUND) & (y <= TAIL_BOUND)
    out = y.clone()
    if not inside.any():
        return out
    y, uw, uh = y[inside], widths[inside], heights[inside]
    end = float(np.log(np.exp(1 - MIN_DERIVATIVE) - 1))
    ud = F.pad(derivatives[inside], [1, 1], value=end)
    k = uw.shape[-1]

    def knots(unnormalised):
        size = MIN_BIN + (1 - MIN_BIN * k) * F.softmax(unnormalised, dim=-1)
        edges = F.pad(torch.cumsum(size, dim=-1), [1, 0]) * (2 * TAIL_BOUND) - TAIL_BOUND
        edges[..., 0], edges[..., -1] = -TAIL_BOUND, TAIL_BOUND
        return edges, edges[..., 1:] - edges[..., :-1]

    cw, w = knots(uw)
    ch, h = knots(uh)
    search = ch.clone()
    search[..., -1] += 1e-6
    out[inside] = spline_solve(y, cw, w, ch, h, MIN_DERIVATIVE + F.softplus(ud), search)
    return out


def spline_solve(y, cw, w, ch, h, d, search):
    """The inverse at y, within [-B, B], of the spline of knots cw (widths w) and ch
    (heights h) and derivatives d; `search`: the height knots its bins are found in."""
    b = (torch.sum((y[..., None] >= search).long(), dim=-1) - 1).clamp(0, w.shape[-1] - 1)
    pick = lambda t: t.gather(-1, b[..., None])[..., 0]  # noqa: E731
    xk, wk, yk, hk = pick(cw), pick(w), pick(ch), pick(h)
    s, d0, d1 = pick(h / w), pick(d), pick(d[..., 1:])
    dy, q = y - yk, d0 + d1 - 2 * s
    a = dy * q + hk * (s - d0)
    bq = hk * d0 - dy * q
    c = -s * dy
    t = (2 * c) / (-bq - torch.sqrt((bq.pow(2) - 4 * a * c).clamp_min(0)))
    return t * wk + xk


class ConvFlow(nn.Module):
    def __init__(self, filt):
        super().__init__()
        self.filt = filt
        self.pre, self.convs = conv(1, filt), DDSConv(filt)
        self.proj = conv(filt, 3 * SDP_BINS - 1)

    def reverse(self, x, x_mask, g):
        x0, x1 = torch.split(x, [1, 1], 1)
        h = self.proj(self.convs(self.pre(x0), x_mask, g)) * x_mask
        h = h.reshape(1, 1, -1, x.size(2)).permute(0, 1, 3, 2)
        scale = math.sqrt(self.filt)
        x1 = spline_inverse(x1, h[..., :SDP_BINS] / scale, h[..., SDP_BINS:2 * SDP_BINS] / scale,
                            h[..., 2 * SDP_BINS:])
        return torch.cat([x0, x1], 1) * x_mask


class Affine(nn.Module):
    def __init__(self):
        super().__init__()
        self.m, self.logs = nn.Parameter(torch.zeros(2, 1)), nn.Parameter(torch.zeros(2, 1))

    def reverse(self, x, x_mask, g):
        return (x - self.m) * torch.exp(-self.logs) * x_mask


class StochasticDurationPredictor(nn.Module):
    def __init__(self, hidden, gin):
        super().__init__()
        f = hidden
        self.pre, self.proj, self.convs = conv(hidden, f), conv(f, f), DDSConv(f)
        # Flip steps are counted in the indices: flows 1, 3, 5, 7 hold weights.
        self.flows = nn.ModuleList([Affine()] + [m for _ in range(SDP_FLOWS)
                                                 for m in (ConvFlow(f), nn.Identity())])
        self.cond = conv(gin, f) if gin else None

    def forward(self, x, x_mask, g, noise_scale):
        x = self.pre(x)
        if g is not None:
            x = x + self.cond(g)
        x = self.proj(self.convs(x, x_mask)) * x_mask
        z = torch.randn(x.size(0), 2, x.size(2)) * noise_scale
        # In reverse, flip before each step; the first spline flow is unused at inference.
        for flow in [self.flows[k] for k in (7, 5, 3)] + [self.flows[0]]:
            z = flow.reverse(torch.flip(z, [1]), x_mask, x)
        return z[:, :1]


class DurationPredictor(nn.Module):
    def __init__(self, hidden, filt, gin):
        super().__init__()
        self.conv_1, self.norm_1 = conv(hidden, filt, 3), LayerNorm(filt)
        self.conv_2, self.norm_2 = conv(filt, filt, 3), LayerNorm(filt)
        self.proj = conv(filt, 1)
        self.cond = conv(gin, hidden) if gin else None

    def forward(self, x, x_mask, g, noise_scale):
        if g is not None:
            x = x + self.cond(g)
        x = self.norm_1(torch.relu(self.conv_1(x * x_mask)))
        x = self.norm_2(torch.relu(self.conv_2(x * x_mask)))
        return self.proj(x * x_mask) * x_mask


# ---- flow --------------------------------------------------------------------

class WaveNet(nn.Module):
    def __init__(self, h, gin):
        super().__init__()
        self.h = h
        self.in_layers = nn.ModuleList(conv(h, 2 * h, FLOW_KERNEL, FLOW_DILATION ** i)
                                       for i in range(FLOW_LAYERS))
        self.res_skip_layers = nn.ModuleList(conv(h, 2 * h if i < FLOW_LAYERS - 1 else h)
                                             for i in range(FLOW_LAYERS))
        self.cond_layer = conv(gin, 2 * h * FLOW_LAYERS) if gin else None

    def forward(self, x, x_mask, g):
        out = torch.zeros_like(x)
        g = self.cond_layer(g) if g is not None else None
        for i, (layer, res_skip) in enumerate(zip(self.in_layers, self.res_skip_layers)):
            x_in = layer(x)
            if g is not None:
                x_in = x_in + g[:, 2 * self.h * i:2 * self.h * (i + 1)]
            rs = res_skip(torch.tanh(x_in[:, :self.h]) * torch.sigmoid(x_in[:, self.h:]))
            if i < FLOW_LAYERS - 1:
                x = (x + rs[:, :self.h]) * x_mask
                out = out + rs[:, self.h:]
            else:
                out = out + rs
        return out * x_mask


class Coupling(nn.Module):
    def __init__(self, c, h, gin):
        super().__init__()
        self.half = c // 2
        self.pre, self.enc, self.post = conv(self.half, h), WaveNet(h, gin), conv(h, self.half)

    def reverse(self, x, x_mask, g):
        x0, x1 = torch.split(x, [self.half] * 2, 1)
        m = self.post(self.enc(self.pre(x0) * x_mask, x_mask, g)) * x_mask
        return torch.cat([x0, (x1 - m) * x_mask], 1)


class Flow(nn.Module):
    def __init__(self, c, h, gin):
        super().__init__()
        # Flip steps at the odd indices.
        self.flows = nn.ModuleList(m for _ in range(N_FLOWS) for m in (Coupling(c, h, gin),
                                                                       nn.Identity()))

    def reverse(self, z, y_mask, g):
        for coupling in reversed(self.flows[::2]):
            z = coupling.reverse(torch.flip(z, [1]), y_mask, g)
        return z


# ---- decoder -----------------------------------------------------------------

class ResBlock(nn.Module):
    """Type "1": a dilated and a plain convolution per dilation (convs1, convs2); "2": the
    dilated one alone (convs)."""

    def __init__(self, ch, k, dilations, kind):
        super().__init__()
        self.first = "convs1" if kind == "1" else "convs"
        setattr(self, self.first, nn.ModuleList(conv(ch, ch, k, d) for d in dilations))
        self.convs2 = nn.ModuleList(conv(ch, ch, k) for _ in dilations) if kind == "1" else None

    def forward(self, x):
        for i, c1 in enumerate(getattr(self, self.first)):
            t = c1(F.leaky_relu(x, LRELU_SLOPE))
            if self.convs2 is not None:
                t = self.convs2[i](F.leaky_relu(t, LRELU_SLOPE))
            x = x + t
        return x


class Generator(nn.Module):
    def __init__(self, m, gin):
        super().__init__()
        ch = m["upsample_initial_channel"]
        self.conv_pre = conv(m["inter_channels"], ch, 7)
        self.ups, self.resblocks = nn.ModuleList(), nn.ModuleList()
        for u, k in zip(m["upsample_rates"], m["upsample_kernel_sizes"]):
            self.ups.append(nn.ConvTranspose1d(ch, ch // 2, k, u, padding=(k - u) // 2))
            ch //= 2
            for rk, rd in zip(m["resblock_kernel_sizes"], m["resblock_dilation_sizes"]):
                self.resblocks.append(ResBlock(ch, rk, rd, m["resblock"]))
        self.conv_post = conv(ch, 1, 7, bias=False)
        self.cond = conv(gin, m["upsample_initial_channel"]) if gin else None
        self.n_kernels = len(m["resblock_kernel_sizes"])

    def forward(self, z, g):
        x = self.conv_pre(z)
        if g is not None:
            x = x + self.cond(g)
        for i, up in enumerate(self.ups):
            x = up(F.leaky_relu(x, LRELU_SLOPE))
            blocks = self.resblocks[i * self.n_kernels:(i + 1) * self.n_kernels]
            xs = blocks[0](x)
            for block in blocks[1:]:
                xs += block(x)
            x = xs / self.n_kernels
        return torch.tanh(self.conv_post(F.leaky_relu(x)))


# ---- the whole voice ------------------------------------------------------------

class Vits(nn.Module):
    def __init__(self, config, n_vocab, dp_filter):
        super().__init__()
        m = config["model"]
        n_speakers, gin = config["data"].get("n_speakers", 0), m.get("gin_channels", 0)
        self.enc_p = TextEncoder(n_vocab, m)
        self.dp = (StochasticDurationPredictor(m["hidden_channels"], gin) if m.get("use_sdp", True)
                   else DurationPredictor(m["hidden_channels"], dp_filter, gin))
        self.flow = Flow(m["inter_channels"], m["hidden_channels"], gin)
        self.dec = Generator(m, gin)
        self.emb_g = nn.Embedding(n_speakers, gin) if n_speakers > 1 else None

    @torch.inference_mode()
    def infer(self, ids, sid=0, noise_scale=0.667, noise_scale_w=0.8, length_scale=1.0):
        """Waveform [S] at the voice's rate from framed ids; draws from the default generator."""
        x, m_p, logs_p, x_mask = self.enc_p(torch.tensor([ids], dtype=torch.long))
        g = self.emb_g(torch.tensor([sid])).unsqueeze(-1) if self.emb_g is not None else None
        logw = self.dp(x, x_mask, g, noise_scale_w)
        w_ceil = torch.ceil(torch.exp(logw) * x_mask * length_scale)
        frames = w_ceil[0, 0].long()
        m_p, logs_p = (t.repeat_interleave(frames, dim=2) for t in (m_p, logs_p))
        y_mask = torch.ones(1, 1, m_p.size(2))
        # One contiguous [1, inter, T] draw.
        z_p = m_p + torch.randn(m_p.shape) * torch.exp(logs_p) * noise_scale
        z = self.flow.reverse(z_p, y_mask, g)
        return self.dec(z * y_mask, g)[0, 0], w_ceil[0, 0], logw[0, 0]


def fold_weight_norm(state):
    """weight_g / weight_v pairs -> plain weights, as the layer would compute them."""
    out = {}
    for name, t in state.items():
        if name.endswith(".weight_v"):
            p = name[:-len("weight_v")]
            out[p + "weight"] = torch._weight_norm(t, state[p + "weight_g"], 0)
        elif not name.endswith(".weight_g"):
            out[name] = t
    return out


def load(checkpoint, config_path):
    with open(config_path) as fh:
        config = json.load(fh)
    state = torch.load(checkpoint, map_location="cpu")["model"]
    # Training-only networks: the posterior encoder and the predictor's post flows.
    state = {k: v for k, v in state.items()
             if not k.startswith(("enc_q.", "dp.post_"))}
    state = fold_weight_norm(state)
    dp_filter = state["dp.conv_1.weight"].shape[0] if "dp.conv_1.weight" in state else 0
    model = Vits(config, state["enc_p.emb.weight"].shape[0], dp_filter)
    model.load_state_dict(state, strict=True)
    return model.eval()


def read_f32(path):
    values = array.array("f")
    with open(path, "rb") as fh:
        values.frombytes(fh.read())
    return torch.tensor(values)


def check(model, golden_dir, shape):
    """Speaks the golden cases of `shape`; True when all match."""
    with open(os.path.join(golden_dir, "vits-cases.json")) as fh:
        golden = json.load(fh)
    tol = golden["tolerance"]
    ok = True
    for case in (c for c in golden["cases"] if c["shape"] == shape):
        torch.manual_seed(case["seed"])
        wave, w_ceil, logw = model.infer(case["ids"], case["sid"], case["noise_scale"],
                                         case["noise_scale_w"], case["length_scale"])
        e = case["expected"]
        ref = read_f32(os.path.join(golden_dir, case["waveform_file"]))
        exact = w_ceil.long().tolist() == e["w_ceil"] and wave.numel() == e["n_samples"]
        logw_diff = (logw - torch.tensor(e["logw"])).abs().max().item()
        wave_diff = (wave - ref).abs().max().item() if wave.numel() == ref.numel() else math.inf
        good = exact and logw_diff <= tol["logw_abs"] and wave_diff <= tol["wave_abs"]
        ok = ok and good
        print(f"{case['name']}: T={int(w_ceil.sum())} w_ceil {'equal' if exact else 'DIFFER'}, "
              f"max |logw diff| {logw_diff:.3g}, max |wave diff| {wave_diff:.3g} "
              f"{'ok' if good else 'MISMATCH'}")
    return ok


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("checkpoint")
    ap.add_argument("config")
    ap.add_argument("--check", metavar="SHAPE", required=True,
                    help="the shape whose golden cases to speak (ljs, vctk, ...)")
    ap.add_argument("--golden", default=os.path.join(os.path.dirname(os.path.realpath(__file__)),
                                                     "..", "..", "shared", "golden"))
    a = ap.parse_args()
    torch.set_num_threads(1)
    return 0 if check(load(a.checkpoint, a.config), a.golden, a.check) else 1


if __name__ == "__main__":
    sys.exit(main())
