"""--from-hf: a Hugging Face VitsModel directory: config.json, vocab.json (and
tokenizer_config.json for add_blank), weights in model.safetensors or
pytorch_model.bin. Its module names are renamed to korva's; its attention
projections are Linear layers, [C, C], which are 1x1 convolutions [C, C, 1] to
korva. The decoder keeps plain weights, the flows' WaveNets weight-norm pairs.
The posterior encoder and the duration predictor's post_* networks only serve
training and are dropped."""
import os
import re

from config_fields import Fields, load_json
from safetensors_file import SafetensorsError, read_safetensors
from voice_conversion import read_checkpoint
import voice_description

FLAG = "--from-hf"
SOURCE = "a Hugging Face VitsModel directory"
NEEDS_CONFIG = False

_LAYER = r"^text_encoder\.encoder\.layers\.(\d+)\."
_RULES = [(re.compile(pattern), replacement) for pattern, replacement in (
    (r"^text_encoder\.embed_tokens\.", "text_encoder.emb."),
    (_LAYER + r"attention\.([qkv])_proj\.", r"text_encoder.encoder.attn_layers.\1.conv_\2."),
    (_LAYER + r"attention\.out_proj\.", r"text_encoder.encoder.attn_layers.\1.conv_o."),
    (_LAYER + r"attention\.(emb_rel_[kv])$", r"text_encoder.encoder.attn_layers.\1.\2"),
    (_LAYER + r"layer_norm\.", r"text_encoder.encoder.norm_layers_1.\1."),
    (_LAYER + r"feed_forward\.", r"text_encoder.encoder.ffn_layers.\1."),
    (_LAYER + r"final_layer_norm\.", r"text_encoder.encoder.norm_layers_2.\1."),
    (r"^text_encoder\.project\.", "text_encoder.proj."),
    (r"^duration_predictor\.flows\.0\.translate$", "duration_predictor.flows.0.translation"),
    (r"^(duration_predictor\.(?:flows\.\d+\.)?)conv_pre\.", r"\1pre."),
    (r"^(duration_predictor\.(?:flows\.\d+\.)?)conv_proj\.", r"\1proj."),
    (r"^(duration_predictor\.(?:flows\.\d+\.)?)conv_dds\.convs_dilated\.", r"\1convs.convs_sep."),
    (r"^(duration_predictor\.(?:flows\.\d+\.)?)conv_dds\.convs_pointwise\.", r"\1convs.convs_1x1."),
    (r"^(duration_predictor\.(?:flows\.\d+\.)?)conv_dds\.", r"\1convs."),
    (r"\.(norm_layers_[12]\.\d+|norms_[12]\.\d+|norm_[12])\.weight$", r".\1.gamma"),
    (r"\.(norm_layers_[12]\.\d+|norms_[12]\.\d+|norm_[12])\.bias$", r".\1.beta"),
    (r"^flow\.flows\.(\d+)\.conv_pre\.", r"flow.flows.\1.pre."),
    (r"^flow\.flows\.(\d+)\.wavenet\.", r"flow.flows.\1.enc."),
    (r"^flow\.flows\.(\d+)\.conv_post\.", r"flow.flows.\1.post."),
    (r"^decoder\.upsampler\.", "waveform_decoder.ups."),
    (r"^decoder\.", "waveform_decoder."),
    (r"^embed_speaker\.", "emb_g."),
)]
_KEPT = ("text_encoder.", "duration_predictor.", "flow.", "decoder.", "embed_speaker.")
_POST = "duration_predictor.post_"
_PROJECTION = re.compile(r"^text_encoder\.encoder\.attn_layers\.\d+\.conv_[qkvo]\.weight$")
_TEXT_ENCODER = {"inter_channels": "flow_size", "hidden_channels": "hidden_size", "filter_channels": "ffn_dim",
                 "n_heads": "num_attention_heads", "n_layers": "num_hidden_layers", "kernel_size": "ffn_kernel_size",
                 "window_size": "window_size"}
_PREDICTOR = {"kernel_size": ("duration_predictor_kernel_size", "int"),
              "n_dds_layers": ("depth_separable_num_layers", "int"),
              "n_flows": ("duration_predictor_num_flows", "int"),
              "num_bins": ("duration_predictor_flow_bins", "int"),
              "tail_bound": ("duration_predictor_tail_bound", "number")}
_FLOW = {"n_couplings": "prior_encoder_num_flows", "kernel_size": "wavenet_kernel_size",
         "dilation_rate": "wavenet_dilation_rate", "n_layers": "prior_encoder_num_wavenet_layers"}
_DECODER = {"resblock_kernel_sizes": "ints", "resblock_dilation_sizes": "int_lists", "upsample_rates": "ints",
            "upsample_kernel_sizes": "ints", "upsample_initial_channel": "int"}


def _weights(directory, problems):
    safetensors = os.path.join(directory, "model.safetensors")
    if os.path.exists(safetensors):
        try:
            return read_safetensors(safetensors)
        except (OSError, SafetensorsError) as error:
            problems.append(str(error))
            return None
    binary = os.path.join(directory, "pytorch_model.bin")
    if not os.path.exists(binary):
        problems.append(f"{directory}: neither model.safetensors nor pytorch_model.bin")
        return None
    state = read_checkpoint(binary, problems)
    if state is not None and not isinstance(state, dict):
        problems.append(f"{binary}: expected a state dict, found {type(state).__name__}")
        return None
    return state


def read(directory, config_path, problems):
    if not os.path.isdir(directory):
        problems.append(f"no such directory: {directory}")
        return None, [], []
    state = _weights(directory, problems)
    files = [os.path.join(directory, name) for name in ("config.json", "vocab.json")]
    loaded = [load_json(name, problems) for name in files]
    tokenizer = os.path.join(directory, "tokenizer_config.json")
    loaded.append(load_json(tokenizer, problems) if os.path.exists(tokenizer) else {})
    files.append(tokenizer)
    if any(data is None for data in loaded):
        return state, [], []
    return state, [Fields(name, data, problems) for name, data in zip(files, loaded)], []


def rename(key):
    if key.startswith(_POST) or not key.startswith(_KEPT):
        return None
    for pattern, replacement in _RULES:
        key = pattern.sub(replacement, key)
    return key


def adapt(name, value):
    if _PROJECTION.match(name) and getattr(value, "dim", lambda: 0)() == 2:
        return value.unsqueeze(-1)
    return value


def dropped_group(key):
    return "duration_predictor.post_*" if key.startswith(_POST) else key.partition(".")[0]


def describe(config, vocab, tokenizer):
    known = len(config.problems)
    text_encoder = {key: config.get(name, "int") for key, name in _TEXT_ENCODER.items()}
    stochastic = config.get("use_stochastic_duration_prediction", "bool", True)
    if stochastic:
        predictor = voice_description.stochastic_predictor(
            text_encoder["hidden_channels"], **{key: config.get(name, kind) for key, (name, kind) in _PREDICTOR.items()})
    else:
        predictor = {"kind": "deterministic", "filter_channels": config.get("duration_predictor_filter_channels", "int"),
                     "kernel_size": config.get("duration_predictor_kernel_size", "int")}
    flow = {key: config.get(name, "int") for key, name in _FLOW.items()}
    decoder = dict(resblock="1", **{key: config.get(key, kind) for key, kind in _DECODER.items()})
    n_speakers = config.get("num_speakers", "int", 1)
    gin = config.get("speaker_embedding_size", "int", 0)
    speaking_rate = config.get("speaking_rate", "number", 1.0)
    inference = {"noise_scale": config.get("noise_scale", "number", 0.667),
                 "noise_scale_w": config.get("noise_scale_duration", "number", 0.8),
                 "length_scale": 1.0 / speaking_rate if speaking_rate else None}
    sample_rate, n_vocab = config.get("sampling_rate", "int"), config.get("vocab_size", "int")
    symbols = {symbol: [i] for symbol, i in vocab.id_map().items()}
    add_blank = tokenizer.get("add_blank", "bool", True)  # the tokenizer's default
    if len(config.problems) > known:
        return None
    front_end = {"kind": "characters", "symbols": symbols}
    if add_blank:
        front_end["blank"] = 0
    return voice_description.describe(sample_rate, n_vocab, text_encoder, decoder,
                                      {"n_speakers": n_speakers, "gin_channels": gin}, front_end, inference,
                                      flow, predictor)
