#!/usr/bin/python3
"""ONNX exports of generated VITS generators, made the way the two exporters of
such voices make them, for testing korva-export --from-onnx beyond the shared
golden files:

- "piper": the decoder's weight norm removed first, the flow's kept (the
  exporter folds it into constants); inputs input, input_lengths, scales [3] and,
  with several speakers, sid; the audio as [batch, 1, 1, samples]; four input
  names given whatever the inputs, as that exporter does.
- "sherpa": the generator as it is (weight norm kept everywhere, so the decoder's
  is folded too); inputs x, x_length, noise_scale, length_scale, noise_scale_w
  and sid; output y [batch, 1, samples]; a metadata entry in the model.

The network is the project's eager reference (bench/vits_eager.py) with an
inference pass that traces: durations to frames through a cumulative-sum path,
as the published code does.

    onnx_fixtures.py --shape SHAPE --out voice.onnx [--style piper|sherpa] [--seed N]

writes a checkpoint of the shared generator's SHAPE, its export, and the
export's .onnx.json beside it (for the full-size checks).
"""
import argparse
import functools
import os
import sys
import warnings

import torch
from torch import nn

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.realpath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "bench"))
import vits_eager  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))
import vits_fixtures as fx  # noqa: E402

_FLOW_NORMED = (".enc.in_layers.", ".enc.res_skip_layers.", ".enc.cond_layer")
_DECODER_NORMED = ("dec.ups.", "dec.resblocks.")
SHERPA_METADATA = {"note": "exported by korva's tests"}


def _weight_normed(name, style):
    return (name.startswith("flow.") and any(part in name for part in _FLOW_NORMED)) or (
        style == "sherpa" and name.startswith(_DECODER_NORMED))


def eager_generator(state, config, style):
    """vits_eager's network with the weight norm the style's exporter meets still in place."""
    state = {k: v for k, v in state.items() if not k.startswith(("enc_q.", "dp.post_"))}
    kept = {k: v for k, v in state.items() if k.endswith((".weight_g", ".weight_v")) and _weight_normed(k, style)}
    plain = vits_eager.fold_weight_norm({k: v for k, v in state.items() if k not in kept})
    dp_filter = state["dp.conv_1.weight"].shape[0] if "dp.conv_1.weight" in state else 0
    model = vits_eager.Vits(config, state["enc_p.emb.weight"].shape[0], dp_filter)
    for name, module in model.named_modules():
        if name + ".weight_g" in kept:
            nn.utils.weight_norm(module)
    model.load_state_dict({**plain, **kept}, strict=True)
    return model.eval()


def _sequence_mask(lengths, longest):
    return (torch.arange(longest, dtype=lengths.dtype)[None, :] < lengths[:, None]).float()


def infer(v, ids, lengths, noise_scale, length_scale, noise_scale_w, sid=None):
    """The generator's inference pass on tensors only, as an exporter traces it."""
    x, m_p, logs_p, x_mask = v.enc_p(ids)
    x_mask = _sequence_mask(lengths, ids.size(1)).unsqueeze(1)
    g = v.emb_g(sid).unsqueeze(-1) if sid is not None else None
    logw = v.dp(x, x_mask, g, noise_scale_w)
    w_ceil = torch.ceil(torch.exp(logw) * x_mask * length_scale)
    y_lengths = torch.clamp_min(torch.sum(w_ceil, [1, 2]), 1).long()
    y_mask = _sequence_mask(y_lengths, int(y_lengths.max())).unsqueeze(1)
    # frame t belongs to token j when cum[j-1] <= t < cum[j]
    cum = torch.cumsum(w_ceil, -1)[:, 0]
    frames = torch.arange(y_mask.size(2), dtype=cum.dtype)
    path = ((frames[None, :, None] < cum[:, None, :]).float()
            - (frames[None, :, None] < (cum - w_ceil[:, 0])[:, None, :]).float())
    m_p = torch.matmul(path, m_p.transpose(1, 2)).transpose(1, 2)
    logs_p = torch.matmul(path, logs_p.transpose(1, 2)).transpose(1, 2)
    z_p = m_p + torch.randn_like(m_p) * torch.exp(logs_p) * noise_scale
    z = v.flow.reverse(z_p, y_mask, g)
    return v.dec(z * y_mask, g)


def _piper_forward(v):
    def forward(input, input_lengths, scales, sid=None):  # noqa: A002 (the exporter's name)
        return infer(v, input, input_lengths, scales[0], scales[1], scales[2], sid).unsqueeze(1)
    return forward


def export(state, config, style, out):
    """Writes the style's export of the generator `state` to `out`."""
    vits = eager_generator(state, config, style)
    multi = vits.emb_g is not None
    torch.manual_seed(1234)
    ids = torch.randint(0, vits.enc_p.emb.num_embeddings, (1, 50))
    lengths = torch.tensor([50])
    sid = torch.tensor([0]) if multi else None
    if style == "piper":
        # the exporter replaces the generator's forward, so parameters keep their own names
        vits.forward = _piper_forward(vits)
        args = (ids, lengths, torch.tensor([0.667, 1.0, 0.8])) + ((sid,) if multi else ())
        names, outputs = ["input", "input_lengths", "scales", "sid"], ["output"]
        axes = {"input": {0: "batch_size", 1: "phonemes"}, "input_lengths": {0: "batch_size"},
                "output": {0: "batch_size", 1: "time"}}
    else:
        vits.forward = functools.partial(infer, vits)
        args = (ids, lengths, torch.tensor(0.667), torch.tensor(1.0), torch.tensor(0.8)) + ((sid,) if multi else ())
        names = ["x", "x_length", "noise_scale", "length_scale", "noise_scale_w"] + (["sid"] if multi else [])
        outputs = ["y"]
        axes = {"x": {0: "N", 1: "L"}, "x_length": {0: "N"}, "y": {0: "N", 2: "S"}}
    with warnings.catch_warnings(), torch.no_grad():
        warnings.simplefilter("ignore")  # the tracer's notes on Python-side branches
        torch.onnx.export(vits, args, out, opset_version=15, input_names=names, output_names=outputs,
                          dynamic_axes=axes, do_constant_folding=True)
    if style == "sherpa":
        import onnx
        proto = onnx.load(out)
        for key, value in SHERPA_METADATA.items():
            proto.metadata_props.add(key=key, value=value)
        onnx.save(proto, out)


def voice_config(config, n_vocab):
    """A voice .onnx.json for a generated checkpoint: the public table's symbols in
    the ids they have there, framed as Piper frames."""
    data = config["data"]
    symbols = fx.public_symbols()
    table = {s: [i] for i, s in reversed(list(enumerate(symbols)))}
    # the framing ids after the table where the vocabulary has room, else the pad's
    extra = n_vocab >= len(symbols) + 2
    table.update({"^": [len(symbols) if extra else 0], "$": [len(symbols) + 1 if extra else 0]})
    n_speakers = max(data["n_speakers"], 1)
    return {"audio": {"sample_rate": data["sampling_rate"], "quality": "medium"}, "espeak": {"voice": "en-us"},
            "inference": {"noise_scale": 0.667, "length_scale": 1, "noise_w": 0.8}, "phoneme_type": "espeak",
            "phoneme_map": {}, "phoneme_id_map": table, "num_symbols": n_vocab, "num_speakers": n_speakers,
            "speaker_id_map": {f"speaker {i}": i for i in range(n_speakers)} if n_speakers > 1 else {}}


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--shape", required=True)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--style", choices=("piper", "sherpa"), default="piper")
    ap.add_argument("--out", required=True)
    a = ap.parse_args()
    checkpoint, config_path = fx.generate(a.shape, os.path.dirname(os.path.abspath(a.out)), a.seed)
    state, config = fx.load_vits(checkpoint, config_path)
    export(state, config, a.style, a.out)
    fx.write_json(a.out + ".json", voice_config(config, state["enc_p.emb.weight"].shape[0]))
    print(f"{a.out}: {a.style} export of {a.shape} (seed {a.seed}); checkpoint {checkpoint}")


if __name__ == "__main__":
    main()
