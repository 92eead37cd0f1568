"""The tensor set of a korva voice: every checkpoint name with its shape.

build(voice) gives it for a voice description (the sections of voice.json);
TENSORS is korva's own constructed network, the one an archive without a
description holds. Weight-normalised convolutions appear as <base>.weight_g /
<base>.weight_v pairs, everything else plainly. Each tensor also carries the
scale of a random initialisation that keeps the network numerically sane (see
random_voice.py): a list of row blocks (rows, a, centre), meaning rows of
dimension 0 drawn uniformly from [centre - a, centre + a].
"""
from collections import namedtuple

Tensor = namedtuple("Tensor", "name shape init")

CHANNELS = 192
VOCABULARY = 49

# korva's constructed network, in the layout of a voice description.
KORVA = {
    "n_vocab": VOCABULARY,
    "text_encoder": {"inter_channels": CHANNELS, "hidden_channels": CHANNELS, "filter_channels": 768,
                     "n_heads": 2, "n_layers": 6, "kernel_size": 3, "window_size": 4},
    "duration_predictor": {"kind": "stochastic", "filter_channels": CHANNELS, "kernel_size": 3,
                           "n_dds_layers": 3, "n_flows": 4, "num_bins": 10, "tail_bound": 5.0},
    "flow": {"n_couplings": 4, "kernel_size": 11, "dilation_rate": 1, "n_layers": 8},
    "decoder": {"resblock": "1", "resblock_kernel_sizes": [3, 7, 11],
                "resblock_dilation_sizes": [[1, 3, 5], [1, 3, 5], [1, 3, 5]],
                "upsample_rates": [8, 8, 4, 2], "upsample_kernel_sizes": [16, 16, 8, 4],
                "upsample_initial_channel": 1024},
    "speakers": {"n_speakers": 0, "gin_channels": 0},
}

_UPSAMPLE_GAIN = {16: 2.8, 8: 2.0, 4: 1.4}  # weight_g centre by kernel: keeps each stage's level


class _Tensors(list):
    """The tensor list being built, with the layer kinds that make it up."""

    def put(self, name, shape, a, centre=0.0):
        self.append(Tensor(name, tuple(shape), ((shape[0] if shape else 1, a, centre),)))

    def put_blocks(self, name, shape, blocks):
        self.append(Tensor(name, tuple(shape), tuple(blocks)))

    def conv(self, p, co, ci, k, a, bias=0.02):
        # a ~ sqrt(3 / fan_in): unit gain for unit-variance inputs
        self.put(p + ".weight", [co, ci, k], a)
        if bias is not None:
            self.put(p + ".bias", [co], bias)

    def norm(self, p, c):
        self.put(p + ".gamma", [c], 0.1, 1.0)
        self.put(p + ".beta", [c], 0.1)

    def wn(self, p, shape, g_lo, g_hi, bias=0.02):
        # only the direction of weight_v matters; weight_g sets each row's norm
        self.put(p + ".weight_g", [shape[0], 1, 1], (g_hi - g_lo) / 2, (g_hi + g_lo) / 2)
        self.put(p + ".weight_v", shape, 1.0)
        self.put(p + ".bias", [shape[1] if ".ups." in p else shape[0]], bias)


def _text_encoder(t, te, n_vocab):
    p, hidden, inter = "text_encoder.", te["hidden_channels"], te["inter_channels"]
    t.put(p + "emb.weight", [n_vocab, hidden], 0.125)
    for i in range(te["n_layers"]):
        q = f"{p}encoder.attn_layers.{i}"
        for c in ("conv_q", "conv_k", "conv_v", "conv_o"):
            t.conv(f"{q}.{c}", hidden, hidden, 1, 0.125)
        for rel in ("emb_rel_k", "emb_rel_v"):
            t.put(f"{q}.{rel}", [1, 2 * te["window_size"] + 1, hidden // te["n_heads"]], 0.177)
    for i in range(te["n_layers"]):
        t.norm(f"{p}encoder.norm_layers_1.{i}", hidden)
    for i in range(te["n_layers"]):
        q = f"{p}encoder.ffn_layers.{i}"
        t.conv(q + ".conv_1", te["filter_channels"], hidden, te["kernel_size"], 0.1)
        t.conv(q + ".conv_2", hidden, te["filter_channels"], te["kernel_size"], 0.036)
    for i in range(te["n_layers"]):
        t.norm(f"{p}encoder.norm_layers_2.{i}", hidden)
    # prior: means std ~0.5, log-scales around -0.5
    t.put_blocks(p + "proj.weight", [2 * inter, hidden, 1], [(inter, 0.0625, 0.0), (inter, 0.02, 0.0)])
    t.put_blocks(p + "proj.bias", [2 * inter], [(inter, 0.05, 0.0), (inter, 0.05, -0.5)])


def _stochastic_predictor(t, dp, hidden, gin, training_parts):
    p, f = "duration_predictor.", dp["filter_channels"]

    def dds(q):
        for i in range(dp["n_dds_layers"]):
            t.conv(f"{q}.convs_sep.{i}", f, 1, dp["kernel_size"], 0.5, 0.05)  # depthwise; layer norm follows
            t.conv(f"{q}.convs_1x1.{i}", f, f, 1, 0.125)
        for lst in ("norms_1", "norms_2"):
            for i in range(dp["n_dds_layers"]):
                t.norm(f"{q}.{lst}.{i}", f)

    def flows(q, first_spline):
        # affine step: median duration ~1.5 frames, nearly all tokens within 1-6 frames
        t.put_blocks(q + ".0.translation", [2, 1], [(1, 0.05, -0.45), (1, 0.05, 0.0)])
        t.put_blocks(q + ".0.log_scale", [2, 1], [(1, 0.05, 0.25), (1, 0.1, 0.0)])
        for k in range(1 if first_spline else 2, dp["n_flows"] + 1):
            t.conv(f"{q}.{k}.pre", f, 1, 1, 1.0, 0.1)
            dds(f"{q}.{k}.convs")
            t.conv(f"{q}.{k}.proj", 3 * dp["num_bins"] - 1, f, 1, 0.1, 0.1)

    t.conv(p + "pre", f, hidden, 1, 0.125)
    dds(p + "convs")
    t.conv(p + "proj", f, f, 1, 0.125)
    flows(p + "flows", training_parts)  # inference never runs the first spline flow
    if training_parts:
        t.conv(p + "post_pre", f, 1, 1, 1.0, 0.1)
        dds(p + "post_convs")
        t.conv(p + "post_proj", f, f, 1, 0.125)
        flows(p + "post_flows", True)
    if gin:
        t.conv(p + "cond", f, gin, 1, 0.02)


def _deterministic_predictor(t, dp, hidden, gin):
    # two convolutions with layer norms, then one log-duration per token
    p, f, k = "duration_predictor.", dp["filter_channels"], dp["kernel_size"]
    t.conv(p + "conv_1", f, hidden, k, 0.1)
    t.norm(p + "norm_1", f)
    t.conv(p + "conv_2", f, f, k, 0.05)
    t.norm(p + "norm_2", f)
    t.conv(p + "proj", 1, f, 1, 0.05)
    if gin:
        t.conv(p + "cond", hidden, gin, 1, 0.02)


def _flow(t, fl, hidden, inter, gin):
    for n in range(fl["n_couplings"]):
        p, layers = f"flow.flows.{n}", fl["n_layers"]
        t.conv(p + ".pre", hidden, inter // 2, 1, 0.25, 0.05)
        t.conv(p + ".post", inter // 2, hidden, 1, 0.04)
        for i in range(layers):
            t.wn(f"{p}.enc.in_layers.{i}", [2 * hidden, hidden, fl["kernel_size"]], 0.8, 1.2, 0.05)
        for i in range(layers):
            t.wn(f"{p}.enc.res_skip_layers.{i}", [2 * hidden if i < layers - 1 else hidden, hidden, 1], 0.8, 1.2)
        if gin:
            t.wn(f"{p}.enc.cond_layer", [2 * hidden * layers, gin, 1], 0.2, 0.4)


def _decoder(t, dec, inter, gin):
    p, channels = "waveform_decoder.", dec["upsample_initial_channel"]
    t.conv(p + "conv_pre", channels, inter, 7, 0.067)
    for i, k in enumerate(dec["upsample_kernel_sizes"]):
        g = _UPSAMPLE_GAIN.get(k, 1.4)
        t.wn(f"{p}ups.{i}", [channels >> i, channels >> (i + 1), k], 0.9 * g, 1.1 * g)
    lists = ("convs1", "convs2") if dec["resblock"] == "1" else ("convs",)
    kernels = dec["resblock_kernel_sizes"]
    for i in range(len(dec["upsample_kernel_sizes"])):
        ch = channels >> (i + 1)
        for j, (k, dilations) in enumerate(zip(kernels, dec["resblock_dilation_sizes"])):
            for lst in lists:
                for n in range(len(dilations)):
                    t.wn(f"{p}resblocks.{len(kernels) * i + j}.{lst}.{n}", [ch, ch, k], 0.3, 0.7)
    # the output convolution sets the loudness; no bias
    last = channels >> len(dec["upsample_kernel_sizes"])
    t.put(p + "conv_post.weight", [1, last, 7], 0.008 * (64 / last) ** 0.5)
    if gin:
        t.conv(p + "cond", channels, gin, 1, 0.02)


def build(voice, training_parts=False):
    """[Tensor] of a voice described by `voice`; `training_parts` adds the stochastic
    duration predictor's post_* networks and its first spline flow, which only
    training uses."""
    t, te, dp = _Tensors(), voice["text_encoder"], voice["duration_predictor"]
    hidden, inter, gin = te["hidden_channels"], te["inter_channels"], voice["speakers"]["gin_channels"]
    if gin:
        t.put("emb_g.weight", [voice["speakers"]["n_speakers"], gin], 1.0)
    _text_encoder(t, te, voice["n_vocab"])
    if dp["kind"] == "deterministic":
        _deterministic_predictor(t, dp, hidden, gin)
    else:
        _stochastic_predictor(t, dp, hidden, gin, training_parts)
    _flow(t, voice["flow"], hidden, inter, gin)
    _decoder(t, voice["decoder"], inter, gin)
    return list(t)


TENSORS = build(KORVA, training_parts=True)
SHAPES = {t.name: t.shape for t in TENSORS}
