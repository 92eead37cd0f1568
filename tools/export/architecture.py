"""The fixed tensor set of a korva voice: every checkpoint name with its shape.

Weight-normalised convolutions appear as <base>.weight_g / <base>.weight_v
pairs, everything else plainly. Each tensor also carries the scale of a
random initialisation that keeps the network numerically sane (see
random_voice.py): a list of row blocks (rows, a, centre), meaning rows of
dimension 0 drawn uniformly from [centre - a, centre + a].
"""
from collections import namedtuple

Tensor = namedtuple("Tensor", "name shape init")

CHANNELS = 192
VOCABULARY = 49


def _build():
    out = []

    def put(name, shape, a, centre=0.0):
        out.append(Tensor(name, tuple(shape), ((shape[0] if shape else 1, a, centre),)))

    def put_blocks(name, shape, blocks):
        out.append(Tensor(name, tuple(shape), tuple(blocks)))

    def conv(p, co, ci, k, a, bias=0.02):
        # a ~ sqrt(3 / fan_in): unit gain for unit-variance inputs
        put(p + ".weight", [co, ci, k], a)
        if bias is not None:
            put(p + ".bias", [co], bias)

    def norm(p, c):
        put(p + ".gamma", [c], 0.1, 1.0)
        put(p + ".beta", [c], 0.1)

    def wn(p, shape, g_lo, g_hi, bias=0.02):
        # only the direction of weight_v matters; weight_g sets each row's norm
        put(p + ".weight_g", [shape[0], 1, 1], (g_hi - g_lo) / 2, (g_hi + g_lo) / 2)
        put(p + ".weight_v", shape, 1.0)
        put(p + ".bias", [shape[1] if ".ups." in p else shape[0]], bias)

    def dds(p, c=CHANNELS):
        for i in range(3):
            conv(f"{p}.convs_sep.{i}", c, 1, 3, 0.5, 0.05)  # depthwise; layer norm follows
            conv(f"{p}.convs_1x1.{i}", c, c, 1, 0.125)
        for lst in ("norms_1", "norms_2"):
            for i in range(3):
                norm(f"{p}.{lst}.{i}", c)

    te = "text_encoder."
    put(te + "emb.weight", [VOCABULARY, CHANNELS], 0.125)
    for i in range(6):
        p = f"{te}encoder.attn_layers.{i}"
        for c in ("conv_q", "conv_k", "conv_v", "conv_o"):
            conv(f"{p}.{c}", CHANNELS, CHANNELS, 1, 0.125)
        put(p + ".emb_rel_k", [1, 9, 96], 0.177)
        put(p + ".emb_rel_v", [1, 9, 96], 0.177)
    for i in range(6):
        norm(f"{te}encoder.norm_layers_1.{i}", CHANNELS)
    for i in range(6):
        p = f"{te}encoder.ffn_layers.{i}"
        conv(p + ".conv_1", 768, CHANNELS, 3, 0.1)
        conv(p + ".conv_2", CHANNELS, 768, 3, 0.036)
    for i in range(6):
        norm(f"{te}encoder.norm_layers_2.{i}", CHANNELS)
    # prior: means std ~0.5, log-scales around -0.5
    put_blocks(te + "proj.weight", [2 * CHANNELS, CHANNELS, 1], [(CHANNELS, 0.0625, 0.0), (CHANNELS, 0.02, 0.0)])
    put_blocks(te + "proj.bias", [2 * CHANNELS], [(CHANNELS, 0.05, 0.0), (CHANNELS, 0.05, -0.5)])

    dp = "duration_predictor."

    def flows(p):
        # affine step: median duration ~1.5 frames, nearly all tokens within 1-6 frames
        put_blocks(p + ".0.translation", [2, 1], [(1, 0.05, -0.45), (1, 0.05, 0.0)])
        put_blocks(p + ".0.log_scale", [2, 1], [(1, 0.05, 0.25), (1, 0.1, 0.0)])
        for k in range(1, 5):
            q = f"{p}.{k}"
            conv(q + ".pre", CHANNELS, 1, 1, 1.0, 0.1)
            dds(q + ".convs")
            conv(q + ".proj", 29, CHANNELS, 1, 0.1, 0.1)

    conv(dp + "pre", CHANNELS, CHANNELS, 1, 0.125)
    dds(dp + "convs")
    conv(dp + "proj", CHANNELS, CHANNELS, 1, 0.125)
    flows(dp + "flows")
    conv(dp + "post_pre", CHANNELS, 1, 1, 1.0, 0.1)
    dds(dp + "post_convs")
    conv(dp + "post_proj", CHANNELS, CHANNELS, 1, 0.125)
    flows(dp + "post_flows")

    for n in range(4):
        p = f"flow.flows.{n}"
        conv(p + ".pre", CHANNELS, 96, 1, 0.25, 0.05)
        conv(p + ".post", 96, CHANNELS, 1, 0.04)
        for i in range(8):
            wn(f"{p}.enc.in_layers.{i}", [2 * CHANNELS, CHANNELS, 11], 0.8, 1.2, 0.05)
        for i in range(8):
            wn(f"{p}.enc.res_skip_layers.{i}", [2 * CHANNELS if i < 7 else CHANNELS, CHANNELS, 1], 0.8, 1.2)

    wd = "waveform_decoder."
    conv(wd + "conv_pre", 1024, CHANNELS, 7, 0.067)
    ups = [(1024, 512, 16, 2.8), (512, 256, 16, 2.8), (256, 128, 8, 2.0), (128, 64, 4, 1.4)]
    for i, (ci, co, k, g) in enumerate(ups):
        wn(f"{wd}ups.{i}", [ci, co, k], 0.9 * g, 1.1 * g)
    for i in range(4):
        ch = 512 >> i
        for j, k in enumerate((3, 7, 11)):
            p = f"{wd}resblocks.{3 * i + j}"
            for lst in ("convs1", "convs2"):
                for n in range(3):
                    wn(f"{p}.{lst}.{n}", [ch, ch, k], 0.3, 0.7)
    # the output convolution sets the loudness; no bias
    put(wd + "conv_post.weight", [1, 64, 7], 0.008)
    return out


TENSORS = _build()
SHAPES = {t.name: t.shape for t in TENSORS}
