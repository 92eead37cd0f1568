"""The sizes of a VITS generator read from its recovered weights and the
attributes of the convolutions that use them: widths and kernels from shapes,
layer counts from the names present, dilations and upsampling rates from the
Conv and ConvTranspose nodes. Nothing is assumed that the graph can tell; what
no tensor shows (the splines' tail bound) keeps the published value."""
from onnx_graph import attribute
import voice_description


class _Reader:
    def __init__(self, state, convs, problems):
        self.state, self.convs, self.problems = state, convs, problems

    def shape(self, name, what):
        if name not in self.state:
            self.problems.append(f"not a VITS generator: no {name} in the graph, so its {what} is unknown")
            return None
        return tuple(self.state[name].shape)

    def count(self, pattern):
        n = 0
        while pattern.format(n) in self.state:
            n += 1
        return n

    def conv_attribute(self, weight, name):
        node = self.convs.get(weight)
        values = attribute(node, name) if node is not None else None
        if not values or len(set(values)) != 1:
            self.problems.append(f"not a VITS generator: no convolution with one {name} value uses {weight}")
            return None
        return values[0]


def _text_encoder(r):
    emb = r.shape("enc_p.emb.weight", "vocabulary")
    rel = r.shape("enc_p.encoder.attn_layers.0.emb_rel_k", "number of heads")
    ffn = r.shape("enc_p.encoder.ffn_layers.0.conv_1.weight", "filter width")
    proj = r.shape("enc_p.proj.weight", "latent width")
    if None in (emb, rel, ffn, proj):
        return None, None
    if emb[1] % rel[2] or rel[1] % 2 == 0:
        r.problems.append(f"not a VITS generator: relative attention table {list(rel)} does not fit width {emb[1]}")
        return None, None
    return emb[0], {"inter_channels": proj[0] // 2, "hidden_channels": emb[1], "filter_channels": ffn[0],
                    "n_heads": emb[1] // rel[2], "n_layers": r.count("enc_p.encoder.attn_layers.{}.conv_q.weight"),
                    "kernel_size": ffn[2], "window_size": (rel[1] - 1) // 2}


def _duration_predictor(r):
    if "dp.conv_1.weight" in r.state:
        conv = r.state["dp.conv_1.weight"].shape
        return {**voice_description.DETERMINISTIC_PREDICTOR, "filter_channels": conv[0], "kernel_size": conv[2]}
    pre = r.shape("dp.pre.weight", "duration predictor width")
    sep = r.shape("dp.convs.convs_sep.0.weight", "duration predictor kernel")
    # public indices: 0 the affine step, odd ones the spline flows (1 is never run), even ones flips
    last = max((k for k in range(3, 64, 2) if f"dp.flows.{k}.pre.weight" in r.state), default=None)
    if last is None:
        r.problems.append("not a VITS generator: no spline flows of the duration predictor (dp.flows.K) in the graph")
        return None
    proj = r.shape(f"dp.flows.{last}.proj.weight", "number of spline bins")
    if None in (pre, sep, proj):
        return None
    bins = (proj[0] + 1) // 3
    return voice_description.stochastic_predictor(pre[0], kernel_size=sep[2],
                                                  n_dds_layers=r.count("dp.convs.convs_sep.{}.weight"),
                                                  n_flows=(last + 1) // 2, num_bins=bins)


def _flow(r):
    first = r.shape("flow.flows.0.enc.in_layers.0.weight", "WaveNet kernel")
    if first is None:
        return None
    layers = r.count("flow.flows.0.enc.in_layers.{}.weight")
    dilation = r.conv_attribute("flow.flows.0.enc.in_layers.1.weight", "dilations") if layers > 1 else 1
    couplings = 0
    while f"flow.flows.{2 * couplings}.pre.weight" in r.state:
        couplings += 1
    return {"n_couplings": couplings, "kernel_size": first[2], "dilation_rate": dilation, "n_layers": layers}


def _resblocks(r, stages):
    kind = "1" if "dec.resblocks.0.convs1.0.weight" in r.state else "2"
    first = "convs1" if kind == "1" else "convs"
    blocks = r.count("dec.resblocks.{}." + first + ".0.weight")
    if not stages or not blocks or blocks % stages:
        r.problems.append(f"not a VITS generator: {blocks} residual blocks for {stages} upsampling stages")
        return None
    kernels, dilations = [], []
    for j in range(blocks // stages):
        convs = f"dec.resblocks.{j}.{first}.{{}}.weight"
        kernels.append(r.state[convs.format(0)].shape[2])
        dilations.append([r.conv_attribute(convs.format(n), "dilations") for n in range(r.count(convs))])
    return {"resblock": kind, "resblock_kernel_sizes": kernels, "resblock_dilation_sizes": dilations}


def _decoder(r):
    pre = r.shape("dec.conv_pre.weight", "decoder width")
    stages = r.count("dec.ups.{}.weight")
    if pre is None:
        return None
    kernels = [r.state[f"dec.ups.{i}.weight"].shape[2] for i in range(stages)]
    rates = [r.conv_attribute(f"dec.ups.{i}.weight", "strides") for i in range(stages)]
    blocks = _resblocks(r, stages)
    if blocks is None:
        return None
    return {**blocks, "upsample_rates": rates, "upsample_kernel_sizes": kernels, "upsample_initial_channel": pre[0]}


def derive(state, convs, problems):
    """{"n_vocab", "text_encoder", "duration_predictor", "flow", "decoder", "speakers"}, or None
    with the reasons in `problems`."""
    known = len(problems)
    r = _Reader(state, convs, problems)
    n_vocab, text_encoder = _text_encoder(r)
    sizes = {"n_vocab": n_vocab, "text_encoder": text_encoder, "duration_predictor": _duration_predictor(r),
             "flow": _flow(r), "decoder": _decoder(r)}
    speakers = state.get("emb_g.weight")
    sizes["speakers"] = ({"n_speakers": speakers.shape[0], "gin_channels": speakers.shape[1]} if speakers is not None
                         else {"n_speakers": 1, "gin_channels": 0})
    return sizes if len(problems) == known else None
