"""Test support for the converters: checkpoints in the public VITS training
layout from the shared generator, the same voices re-spelled in the Coqui, Piper
and Hugging Face layouts (written out here from those layouts' own names, not
through the converters' renames), and a reader of the archives korva-export writes.
"""
import collections
import functools
import json
import os
import pathlib
import re
import struct
import subprocess
import sys
import unittest
import zipfile

import numpy
import torch

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.realpath(__file__))))
GENERATOR = os.path.join(os.path.dirname(ROOT), "shared", "golden", "make_vits_checkpoint.py")
TOOL = os.path.join(ROOT, "tools", "export", "korva-export")


def generate(shape, directory, seed=1):
    """(G.pth, config.json) of the generator's `shape` at `seed`, written into `directory`."""
    checkpoint = os.path.join(directory, f"{shape}.pth")
    config = os.path.join(directory, f"{shape}.json")
    subprocess.run([sys.executable, GENERATOR, "--shape", shape, "--seed", str(seed), "--out", checkpoint,
                    "--config-out", config], check=True, capture_output=True)
    return checkpoint, config


@functools.lru_cache(maxsize=None)
def load_vits(checkpoint, config):
    """The generator's state dict and config (shared: copy before changing them)."""
    with open(config, encoding="utf-8") as f:
        return torch.load(checkpoint)["model"], json.load(f)


def read_archive(path):
    """({name: tensor}, description or None) of an archive, read with zipfile alone."""
    with zipfile.ZipFile(path) as z:
        prefix = z.namelist()[0].split("/")[0] + "/"
        manifest = json.loads(z.read(prefix + "manifest.json"))
        names = z.namelist()
        voice = json.loads(z.read(prefix + "voice.json").decode("utf-8")) if prefix + "voice.json" in names else None
        records = {}
        tensors = {}
        for name, entry in manifest.items():
            key = entry["storage_key"]
            if key not in records:
                records[key] = torch.frombuffer(bytearray(z.read(prefix + "data/" + key)), dtype=torch.float32)
            flat = records[key][entry["offset"]: entry["offset"] + entry["numel"]]
            tensors[name] = flat.reshape(entry["shape"]).clone()
    return tensors, voice


def run_tests(required, absent, work):
    """Runs the calling script's unittest cases; exit status 77 (skipped) with the message
    `absent` when the path `required` does not exist. The scratch directory `work` goes."""
    if not os.path.exists(required):
        print(f"skipped: {absent}")
        sys.exit(77)
    try:
        result = unittest.main(module="__main__", verbosity=2, exit=False).result
    finally:
        work.cleanup()
    sys.exit(0 if result.wasSuccessful() else 1)


def export(*args):
    return subprocess.run([sys.executable, TOOL, *args], capture_output=True, text=True)


def fold(tensors):
    """Plain weights for every weight_g/weight_v pair, as korva's binder folds them."""
    out = {}
    for name, t in tensors.items():
        if name.endswith(".weight_v"):
            base = name[: -len(".weight_v")]
            g = tensors[base + ".weight_g"]
            norm = t.norm(2, dim=list(range(1, t.dim())), keepdim=True)
            out[base + ".weight"] = t * (g / norm)
        elif not name.endswith(".weight_g"):
            out[name] = t
    return out


def korva_name(key):
    """korva's name for a public VITS key, written out by hand; None when korva drops it
    (the training-only networks, and the predictor's first spline flow, never run)."""
    if key.startswith(("enc_q.", "dp.post_", "dp.flows.1.")):
        return None
    for theirs, ours in (("enc_p.", "text_encoder."), ("dec.", "waveform_decoder."), ("emb_g.", "emb_g.")):
        if key.startswith(theirs):
            return ours + key[len(theirs):]
    m = re.match(r"flow\.flows\.(\d+)\.(.*)", key)
    if m:
        return f"flow.flows.{int(m.group(1)) // 2}.{m.group(2)}"
    m = re.match(r"dp\.flows\.(\d+)\.(.*)", key)
    if m:
        k, tail = int(m.group(1)), m.group(2)
        tail = {"m": "translation", "logs": "log_scale"}.get(tail, tail) if k == 0 else tail
        return f"duration_predictor.flows.{(k + 1) // 2}.{tail}"
    return "duration_predictor." + key[len("dp."):]


def ulps(a, b):
    """Largest distance in units in the last place between two float32 arrays."""
    def ordered(x):
        bits = numpy.ascontiguousarray(x, dtype="<f4").reshape(-1).view(numpy.int32).astype(numpy.int64)
        return numpy.where(bits < 0, -(bits & 0x7FFFFFFF), bits)
    return int(numpy.abs(ordered(a) - ordered(b)).max()) if numpy.size(a) else 0


# --- re-spellings of a public VITS generator state in the other layouts ---

def parametrized(state):
    """torch's newer weight-norm spelling of every weight_g / weight_v pair."""
    def spell(key):
        return re.sub(r"\.weight_g$", ".parametrizations.weight.original0",
                      re.sub(r"\.weight_v$", ".parametrizations.weight.original1", key))
    return {spell(k): v for k, v in state.items()}


def write_json(path, data):
    with open(path, "w", encoding="utf-8") as f:
        json.dump(data, f, ensure_ascii=False)


def public_symbols():
    sys.path.insert(0, os.path.dirname(GENERATOR))
    import make_vits_checkpoint
    return make_vits_checkpoint.VITS_SYMBOLS


def _vits_dp_flow(index):
    """The public VITS index of a duration-predictor flow step -> its index without the Flip steps."""
    return (index + 1) // 2


def coqui(state, config, spelling):
    """(checkpoint, config.json) of the voice as Coqui TTS saves a VITS model."""
    out = {}
    for key, value in state.items():
        network, _, rest = key.partition(".")
        if network == "flow":
            n, tail = re.match(r"flows\.(\d+)\.(.*)", rest).groups()
            key = f"flow.flows.{int(n) // 2}.{tail}"
        elif network == "dp":
            m = re.match(r"(flows|post_flows)\.(\d+)\.(.*)", rest)
            if m:
                tail = {"m": "translation", "logs": "log_scale"}.get(m.group(3), m.group(3))
                rest = f"{m.group(1)}.{_vits_dp_flow(int(m.group(2)))}.{tail}"
            key = "duration_predictor." + rest
        elif network == "dec":
            key = "waveform_decoder." + ("cond_layer." + rest[5:] if rest.startswith("cond.") else rest)
        else:
            key = {"enc_p": "text_encoder.", "enc_q": "posterior_encoder.", "emb_g": "emb_g."}[network] + rest
        out[key] = value
    out["disc.nets.0.convs.0.weight"] = torch.zeros(16, 1, 15)
    if spelling == "parametrizations":
        out = parametrized(out)
    model, data = config["model"], config["data"]
    speakers = data["n_speakers"] > 1
    symbols = public_symbols()
    args = {"hidden_channels": model["hidden_channels"], "hidden_channels_ffn_text_encoder": model["filter_channels"],
            "num_heads_text_encoder": model["n_heads"], "num_layers_text_encoder": model["n_layers"],
            "kernel_size_text_encoder": model["kernel_size"], "kernel_size_flow": 5, "dilation_rate_flow": 1,
            "num_layers_flow": 4, "resblock_type_decoder": model["resblock"],
            "resblock_kernel_sizes_decoder": model["resblock_kernel_sizes"],
            "resblock_dilation_sizes_decoder": model["resblock_dilation_sizes"],
            "upsample_rates_decoder": model["upsample_rates"],
            "upsample_initial_channel_decoder": model["upsample_initial_channel"],
            "upsample_kernel_sizes_decoder": model["upsample_kernel_sizes"], "use_sdp": True,
            "inference_noise_scale": 0.5, "inference_noise_scale_dp": 0.9, "length_scale": 1.1,
            "use_speaker_embedding": speakers, "num_speakers": data["n_speakers"],
            "speaker_embedding_channels": model.get("gin_channels", 256), "use_d_vector_file": False,
            "speakers_file": "/training/run/speakers.json" if speakers else None}
    coqui_config = {"model": "vits", "audio": {"sample_rate": data["sampling_rate"]}, "use_phonemes": True,
                    "phonemizer": "espeak", "phoneme_language": "en-us", "add_blank": True, "model_args": args,
                    "characters": {"characters_class": "TTS.tts.models.vits.VitsCharacters", "pad": "_",
                                   "eos": "", "bos": "", "blank": "<BLNK>", "punctuations": "".join(symbols[1:17]),
                                   "characters": "".join(symbols[17:69]), "phonemes": "".join(symbols[69:]),
                                   "is_unique": False,
                                   "is_sorted": True}}
    # the vocabulary is the 178 symbols of the table and the blank after them
    emb = out["text_encoder.emb.weight"]
    out["text_encoder.emb.weight"] = torch.cat([emb[:178], torch.full((1, emb.shape[1]), 0.25)])
    return {"config": coqui_config, "model": out, "optimizer": None, "step": 10, "epoch": 1}, coqui_config


class AttributeDict(dict):
    """Stands for the training framework's own hyper-parameter dict class."""


def piper(state, config, spelling, with_sizes):
    """(checkpoint, voice.onnx.json) of the voice as Piper's training saves it; without
    `with_sizes` its hyper-parameters leave the network sizes to Piper's defaults."""
    out = collections.OrderedDict(("model_g." + k, v) for k, v in state.items())
    out["model_d.discriminators.0.convs.0.weight"] = torch.zeros(16, 1, 15)
    if spelling == "parametrizations":
        out = parametrized(out)
    model, data = config["model"], config["data"]
    n_vocab, n_speakers = config.get("n_vocab", 178), max(data["n_speakers"], 1)
    hyper = AttributeDict(num_symbols=n_vocab, num_speakers=n_speakers, sample_rate=data["sampling_rate"],
                          dataset=[pathlib.PosixPath("/data/dataset.jsonl")], use_sdp=True)
    if with_sizes:
        # the training code's defaults are tuples, and so they are pickled
        hyper.update({k: tuple(tuple(x) if isinstance(x, list) else x for x in v) if isinstance(v, list) else v
                      for k, v in model.items() if k not in ("p_dropout", "n_layers_q", "use_spectral_norm")})
    checkpoint = {"epoch": 1, "global_step": 10, "pytorch-lightning_version": "1.7.7", "state_dict": out,
                  "hyper_parameters": hyper, "optimizer_states": [], "lr_schedulers": [], "callbacks": {}}
    voice = {"audio": {"sample_rate": data["sampling_rate"], "quality": "medium"}, "espeak": {"voice": "en-gb"},
             "inference": {"noise_scale": 0.6, "length_scale": 1.2, "noise_w": 0.7}, "phoneme_type": "espeak",
             "phoneme_map": {}, "phoneme_id_map": {"_": [0], "^": [1], "$": [2], " ": [3], "a": [4], "b": [5, 6],
                                                   "ə": [7], "ˈ": [8]},
             "num_symbols": n_vocab, "num_speakers": n_speakers, "piper_version": "1.0.0",
             "speaker_id_map": {f"speaker{i}": i for i in range(n_speakers)} if n_speakers > 1 else {}}
    return checkpoint, voice


def _hf_name(key):
    """The Hugging Face VitsModel name of a public VITS key."""
    rules = (
        (r"^enc_p\.emb\.", "text_encoder.embed_tokens."),
        (r"^enc_p\.encoder\.attn_layers\.(\d+)\.conv_([qkv])\.", r"text_encoder.encoder.layers.\1.attention.\2_proj."),
        (r"^enc_p\.encoder\.attn_layers\.(\d+)\.conv_o\.", r"text_encoder.encoder.layers.\1.attention.out_proj."),
        (r"^enc_p\.encoder\.attn_layers\.(\d+)\.", r"text_encoder.encoder.layers.\1.attention."),
        (r"^enc_p\.encoder\.norm_layers_1\.(\d+)\.", r"text_encoder.encoder.layers.\1.layer_norm."),
        (r"^enc_p\.encoder\.ffn_layers\.(\d+)\.", r"text_encoder.encoder.layers.\1.feed_forward."),
        (r"^enc_p\.encoder\.norm_layers_2\.(\d+)\.", r"text_encoder.encoder.layers.\1.final_layer_norm."),
        (r"^enc_p\.proj\.", "text_encoder.project."),
        (r"^dp\.flows\.0\.m$", "duration_predictor.flows.0.translate"),
        (r"^dp\.flows\.0\.logs$", "duration_predictor.flows.0.log_scale"),
        (r"^dp\.flows\.(\d+)\.", lambda m: f"duration_predictor.flows.{_vits_dp_flow(int(m.group(1)))}."),
        (r"^dp\.", "duration_predictor."),
        (r"^(duration_predictor\.(flows\.\d+\.)?)pre\.", r"\1conv_pre."),
        (r"^(duration_predictor\.(flows\.\d+\.)?)proj\.", r"\1conv_proj."),
        (r"^(duration_predictor\.(flows\.\d+\.)?)convs\.convs_sep\.", r"\1conv_dds.convs_dilated."),
        (r"^(duration_predictor\.(flows\.\d+\.)?)convs\.convs_1x1\.", r"\1conv_dds.convs_pointwise."),
        (r"^(duration_predictor\.(flows\.\d+\.)?)convs\.", r"\1conv_dds."),
        (r"\.gamma$", ".weight"),
        (r"\.beta$", ".bias"),
        (r"^flow\.flows\.(\d+)\.pre\.", lambda m: f"flow.flows.{int(m.group(1)) // 2}.conv_pre."),
        (r"^flow\.flows\.(\d+)\.enc\.", lambda m: f"flow.flows.{int(m.group(1)) // 2}.wavenet."),
        (r"^flow\.flows\.(\d+)\.post\.", lambda m: f"flow.flows.{int(m.group(1)) // 2}.conv_post."),
        (r"^dec\.ups\.", "decoder.upsampler."),
        (r"^dec\.", "decoder."),
        (r"^emb_g\.", "embed_speaker."),
        (r"^enc_q\.", "posterior_encoder."),
    )
    for pattern, replacement in rules:
        key = re.sub(pattern, replacement, key)
    return key


def _write_safetensors(tensors, path):
    header, data, at = {"__metadata__": {"format": "pt"}}, [], 0
    for name, t in tensors.items():
        raw = t.contiguous().numpy().astype("<f4").tobytes()
        header[name] = {"dtype": "F32", "shape": list(t.shape), "data_offsets": [at, at + len(raw)]}
        data.append(raw)
        at += len(raw)
    text = json.dumps(header).encode()
    text += b" " * (-len(text) % 8)
    with open(path, "wb") as f:
        f.write(struct.pack("<Q", len(text)) + text)
        for raw in data:
            f.write(raw)


def hf(state, config, directory, spelling, weights="model.safetensors"):
    """A Hugging Face VitsModel directory of the voice: decoder weights folded, the
    attention projections as Linear weights, the flows' WaveNets weight-normalised."""
    folded = {k: v for k, v in fold(state).items() if k.startswith("dec.")}
    source = {**{k: v for k, v in state.items() if not k.startswith("dec.")}, **folded}
    out = {}
    for key, value in source.items():
        name = _hf_name(key)
        if re.search(r"attention\.(q|k|v|out)_proj\.weight$", name):
            value = value.squeeze(-1)
        out[name] = value
    if spelling == "parametrizations":
        out = parametrized(out)
    os.makedirs(directory, exist_ok=True)
    if weights == "model.safetensors":
        _write_safetensors(out, os.path.join(directory, weights))
    else:
        torch.save(collections.OrderedDict(out), os.path.join(directory, weights))
    model, data = config["model"], config["data"]
    hf_config = {"model_type": "vits", "vocab_size": config.get("n_vocab", 178), "hidden_size": model["hidden_channels"],
                 "ffn_dim": model["filter_channels"], "num_attention_heads": model["n_heads"],
                 "num_hidden_layers": model["n_layers"], "ffn_kernel_size": model["kernel_size"], "window_size": 4,
                 "flow_size": model["inter_channels"], "use_stochastic_duration_prediction": True,
                 "duration_predictor_kernel_size": 3, "depth_separable_num_layers": 3, "depth_separable_channels": 2,
                 "duration_predictor_num_flows": 4, "duration_predictor_flow_bins": 10,
                 "duration_predictor_tail_bound": 5.0, "prior_encoder_num_flows": 4, "wavenet_kernel_size": 5,
                 "wavenet_dilation_rate": 1, "prior_encoder_num_wavenet_layers": 4,
                 "upsample_initial_channel": model["upsample_initial_channel"],
                 "upsample_rates": model["upsample_rates"], "upsample_kernel_sizes": model["upsample_kernel_sizes"],
                 "resblock_kernel_sizes": model["resblock_kernel_sizes"],
                 "resblock_dilation_sizes": model["resblock_dilation_sizes"],
                 "num_speakers": max(data["n_speakers"], 1), "speaker_embedding_size": model.get("gin_channels", 0),
                 "sampling_rate": data["sampling_rate"], "noise_scale": 0.667, "noise_scale_duration": 0.8,
                 "speaking_rate": 2.0}
    write_json(os.path.join(directory, "config.json"), hf_config)
    write_json(os.path.join(directory, "vocab.json"), {s: i for i, s in enumerate(public_symbols()[:69])})
    write_json(os.path.join(directory, "tokenizer_config.json"), {"add_blank": True, "normalize": True})
    return directory
