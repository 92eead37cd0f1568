"""--from-coqui: a Coqui TTS VITS checkpoint ({"config", "model", ...}) with its
config.json. The state dict already uses korva's names (flow indices 0-3, the
affine step's translation / log_scale); the decoder's speaker conv is
waveform_decoder.cond_layer. The posterior encoder, the discriminator and the
duration predictor's post_* networks only serve training and are dropped.
Speaker names come from the speakers file the config names (speakers.json or
speakers.pth), looked for where it says and beside the config."""
import os

from config_fields import Fields, load_json
from vits_symbols import symbol_ids
import vits_layout
from voice_conversion import read_checkpoint, read_files
from tensor_match import CheckpointError
import voice_description

FLAG = "--from-coqui"
SOURCE = "a Coqui TTS VITS checkpoint (model.pth) with its config.json"
NEEDS_CONFIG = True

_NETWORKS = ("text_encoder.", "duration_predictor.", "flow.", "waveform_decoder.", "emb_g.")
_POST = "duration_predictor.post_"
_DECODER_COND = "waveform_decoder.cond_layer."
_TEXT_ENCODER = {"hidden_channels": "hidden_channels", "filter_channels": "hidden_channels_ffn_text_encoder",
                 "n_heads": "num_heads_text_encoder", "n_layers": "num_layers_text_encoder",
                 "kernel_size": "kernel_size_text_encoder"}
_DECODER = {"resblock": ("resblock_type_decoder", "str"),
            "resblock_kernel_sizes": ("resblock_kernel_sizes_decoder", "ints"),
            "resblock_dilation_sizes": ("resblock_dilation_sizes_decoder", "int_lists"),
            "upsample_rates": ("upsample_rates_decoder", "ints"),
            "upsample_kernel_sizes": ("upsample_kernel_sizes_decoder", "ints"),
            "upsample_initial_channel": ("upsample_initial_channel_decoder", "int")}
_FLOW = {"kernel_size": ("kernel_size_flow", 5), "dilation_rate": ("dilation_rate_flow", 1),
         "n_layers": ("num_layers_flow", 4)}
_UNSUPPORTED = {"use_d_vector_file": "speaker d-vectors", "use_language_embedding": "language embeddings"}


def _state(checkpoint):
    if not isinstance(checkpoint, dict) or not isinstance(checkpoint.get("model"), dict):
        raise CheckpointError('expected a dict with a "model" state dict')
    return checkpoint["model"], sorted(k for k in checkpoint if k != "model")


def _speakers_file(config_path, config, problems):
    """Fields of the {name: id} map in the config's speakers file; empty when it names none."""
    args = config.get("model_args") if isinstance(config.get("model_args"), dict) else {}
    named = args.get("speakers_file") or config.get("speakers_file")
    if not isinstance(named, str):
        return Fields("speakers file", {}, problems)
    beside = os.path.join(os.path.dirname(config_path), os.path.basename(named))
    found = next((p for p in (named, beside) if os.path.isfile(p)), None)
    if found is None:
        print(f"speaker names: {named} not found, nor beside {config_path}; speakers are known by id only")
        return Fields("speakers file", {}, problems)
    names = load_json(found, problems) if found.endswith(".json") else read_checkpoint(found, problems)
    if names is not None and not isinstance(names, dict):
        problems.append(f"{found}: expected a map of speaker names to ids")
    return Fields(found, names if isinstance(names, dict) else {}, problems)


def read(source, config_path, problems):
    state, configs, left_aside = read_files(source, config_path, problems, _state)
    if configs:
        configs.append(_speakers_file(config_path, configs[0].data, problems))
    return state, configs, left_aside


def rename(key):
    if key.startswith(_POST) or not key.startswith(_NETWORKS):
        return None
    if key.startswith(_DECODER_COND):
        return "waveform_decoder.cond." + key[len(_DECODER_COND):]
    return key


def dropped_group(key):
    return "duration_predictor.post_*" if key.startswith(_POST) else key.partition(".")[0]


def vocabulary(fields):
    """Coqui's VITS characters: pad, punctuations, characters + phonemes, then the blank."""
    pad = fields.get("characters.pad", "str")
    punctuations = fields.get("characters.punctuations", "str")
    characters = fields.get("characters.characters", "str")
    phonemes = fields.get("characters.phonemes", "str", "")
    if None in (pad, punctuations, characters):
        return None
    return [pad] + list(punctuations) + list(characters + phonemes)


def describe(fields, speaker_names):
    known = len(fields.problems)
    args = "model_args."
    text_encoder = {key: fields.get(args + name, "int") for key, name in _TEXT_ENCODER.items()}
    text_encoder["inter_channels"] = text_encoder["hidden_channels"]  # Coqui's prior has the encoder's width
    decoder = {key: fields.get(args + name, kind) for key, (name, kind) in _DECODER.items()}
    flow = dict(voice_description.FLOW, **{key: fields.get(args + name, "int", default)
                                           for key, (name, default) in _FLOW.items()})
    for name, what in _UNSUPPORTED.items():
        if fields.get(args + name, "bool", False):
            fields.problems.append(f"{fields.source}: {args}{name} is true: korva does not run {what}")
    stochastic = fields.get(args + "use_sdp", "bool", True)
    speakers = {"n_speakers": 0, "gin_channels": 0}
    if fields.get(args + "use_speaker_embedding", "bool", False):
        count = fields.get(args + "num_speakers", "int", None)
        speakers = {"n_speakers": fields.get("num_speakers", "int") if count is None else count,  # either place
                    "gin_channels": fields.get(args + "speaker_embedding_channels", "int", 256)}
        names = speaker_names.id_map()
        if names:
            speakers["names"] = names
    inference = {"noise_scale": fields.get(args + "inference_noise_scale", "number", 0.667),
                 "noise_scale_w": fields.get(args + "inference_noise_scale_dp", "number", 1.0),
                 "length_scale": fields.get(args + "length_scale", "number", 1.0)}
    sample_rate = fields.get("audio.sample_rate", "int")
    symbols = vocabulary(fields)
    phonemes = fields.get("use_phonemes", "bool", True)
    language = fields.get("phoneme_language", "str", "en-us")
    add_blank = fields.get("add_blank", "bool", True)
    if len(fields.problems) > known:
        return None
    front_end = {"kind": "espeak" if phonemes else "characters", "symbols": symbol_ids(symbols)}
    if phonemes:
        front_end["language"] = language
    if add_blank:
        front_end["blank"] = len(symbols)
    return voice_description.describe(sample_rate, len(symbols) + 1, text_encoder, decoder, speakers,
                                      front_end, inference, flow, vits_layout.predictor(stochastic))
