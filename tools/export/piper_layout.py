"""--from-piper: a Piper training checkpoint (PyTorch Lightning: the generator's
tensors under "model_g." in its state dict, with public VITS names) and the
voice's .onnx.json. Sizes come from the checkpoint's hyper-parameters, Piper's
own defaults (its medium quality) filling what they leave out; the text
front-end (front_end: kind "piper", also for other importers of Piper voices),
rate, speakers and inference defaults (inference(), which --from-onnx shares
too) come from the voice JSON. Lightning pickles its own bookkeeping classes;
they load as inert stand-ins."""
import shutil
import subprocess

from config_fields import Fields
from tensor_match import CheckpointError
from voice_conversion import read_files
import vits_layout
import voice_description

FLAG = "--from-piper"
SOURCE = "a Piper training checkpoint (.ckpt) with its voice .onnx.json"
NEEDS_CONFIG = True

_GENERATOR = "model_g."
DEFAULTS = {"inter_channels": 192, "hidden_channels": 192, "filter_channels": 768, "n_heads": 2, "n_layers": 6,
            "kernel_size": 3, "resblock": "2", "resblock_kernel_sizes": [3, 5, 7],
            "resblock_dilation_sizes": [[1, 2], [2, 6], [3, 12]], "upsample_rates": [8, 8, 4],
            "upsample_kernel_sizes": [16, 16, 8], "upsample_initial_channel": 256}
MULTI_SPEAKER_WIDTH = 512  # Piper's speaker embedding when it trains several speakers
_FRAMING = {"blank": "_", "start": "^", "end": "$"}


def read(source, config_path, problems):
    hyper = {}

    def state_of(checkpoint):
        if not isinstance(checkpoint, dict) or not isinstance(checkpoint.get("state_dict"), dict):
            raise CheckpointError('expected a Lightning checkpoint with a "state_dict"')
        if isinstance(checkpoint.get("hyper_parameters"), dict):
            hyper.update(checkpoint["hyper_parameters"])
        return checkpoint["state_dict"], sorted(k for k in checkpoint if k != "state_dict")

    state, configs, left_aside = read_files(source, config_path, problems, state_of, inert_unknown=True)
    if configs:
        configs.append(Fields(f"{source} hyper_parameters", hyper, problems))
    return state, configs, left_aside


def rename(key):
    if not key.startswith(_GENERATOR):
        return None
    return vits_layout.rename(key[len(_GENERATOR):])


def dropped_group(key):
    return vits_layout.dropped_group(key[len(_GENERATOR):]) if key.startswith(_GENERATOR) else key.partition(".")[0]


def _symbols(fields):
    table = fields.get("phoneme_id_map", "dict")
    if table is None:
        return None
    ok = True
    for symbol, ids in table.items():
        if len(symbol) != 1:
            fields.problems.append(f"{fields.source}: phoneme_id_map key {symbol!r} is not one phoneme "
                                   "(one code point)")
            ok = False
        elif not (isinstance(ids, list) and ids and all(isinstance(i, int) and not isinstance(i, bool) for i in ids)):
            fields.problems.append(f"{fields.source}: phoneme_id_map[{symbol!r}] is {ids!r}, expected a list of ids")
            ok = False
    for role, symbol in _FRAMING.items():
        if symbol not in table:
            fields.problems.append(f"{fields.source}: phoneme_id_map has no {symbol!r} (the {role} id)")
            ok = False
    return table if ok else None


def _phoneme_map(fields):
    mapping = fields.get("phoneme_map", "dict", {})
    if mapping is None:
        return None
    for phoneme, to in mapping.items():
        if not (phoneme and isinstance(to, list) and len(to) <= 16 and all(isinstance(p, str) and p for p in to)):
            fields.problems.append(f"{fields.source}: phoneme_map[{phoneme!r}] is {to!r}, expected a list of "
                                   "up to 16 phonemes")
            return None
    return mapping


def _silences(fields):
    """The seconds of silence after each phoneme the config lists, or None after a problem."""
    silences = fields.get("inference.phoneme_silence", "dict", {})
    if silences is None:
        return None
    for phoneme, seconds in silences.items():
        if isinstance(seconds, bool) or not isinstance(seconds, (int, float)) or not 0 <= seconds <= 60:
            fields.problems.append(f"{fields.source}: inference.phoneme_silence[{phoneme!r}] is {seconds!r}, "
                                   "expected 0 to 60 seconds")
            return None
    return silences


def _language(fields):
    """The espeak-ng voice, checked against the espeak-ng program where it is installed."""
    phonemes = fields.get("phoneme_type", "str", "espeak")
    if phonemes is not None and phonemes != "espeak":
        fields.problems.append(f"{fields.source}: phoneme_type is {phonemes!r}: korva reads Piper voices "
                               "through espeak-ng's phonemes only")
    language = fields.get("espeak.voice", "str", "en-us")
    if language is not None and shutil.which("espeak-ng"):
        found = subprocess.run(["espeak-ng", "-q", "-v", language, ""], capture_output=True)
        if found.returncode != 0:
            fields.problems.append(f"{fields.source}: espeak.voice {language!r} is not a voice of espeak-ng")
    return language


def front_end(config):
    """The "piper" front_end of voice.json from a Piper voice config (`config`, a
    config_fields.Fields of the .onnx.json): its espeak voice, phoneme_id_map as
    the symbols with the ids of "_", "^" and "$" as blank, start and end, and,
    where the config gives them, its phoneme_map, inference.sentence_silence and
    inference.phoneme_silence. None when the config lacks what is needed; every
    problem is added to config.problems."""
    known = len(config.problems)
    language = _language(config)
    table = _symbols(config)
    mapping = _phoneme_map(config)
    sentence_silence = config.get("inference.sentence_silence", "number", None)
    silences = _silences(config)
    if sentence_silence is not None and not 0 <= sentence_silence <= 60:
        config.problems.append(f"{config.source}: inference.sentence_silence is {sentence_silence}, "
                               "expected 0 to 60 seconds")
    if len(config.problems) > known:
        return None
    described = {"kind": "piper", "language": language, "symbols": table,
                 **{role: table[symbol][0] for role, symbol in _FRAMING.items()}}
    if mapping:
        described["phoneme_map"] = mapping
    if sentence_silence is not None:
        described["sentence_silence"] = sentence_silence
    if silences:
        described["phoneme_silence"] = silences
    return described


def inference(voice):
    """The voice's own noise and length scales from its .onnx.json's "inference"."""
    return {"noise_scale": voice.get("inference.noise_scale", "number", 0.667),
            "noise_scale_w": voice.get("inference.noise_w", "number", 0.8),
            "length_scale": voice.get("inference.length_scale", "number", 1.0)}


def describe(voice, hyper):
    known = len(voice.problems)
    text_encoder, decoder = vits_layout.read_sizes(hyper, "", DEFAULTS)
    stochastic = hyper.get("use_sdp", "bool", True)
    n_speakers = voice.get("num_speakers", "int", 1)
    gin = hyper.get("gin_channels", "int", MULTI_SPEAKER_WIDTH if n_speakers and n_speakers > 1 else 0)
    names = voice.get("speaker_id_map", "dict", {})
    sample_rate = voice.get("audio.sample_rate", "int")
    n_vocab = voice.get("num_symbols", "int", hyper.get("num_symbols", "int", None))
    if n_vocab is None:
        voice.problems.append(f"{voice.source}: missing field num_symbols (nor in {hyper.source})")
    defaults = inference(voice)
    text = front_end(voice)
    if len(voice.problems) > known:
        return None
    speakers = {"n_speakers": n_speakers, "gin_channels": gin}
    if names:
        speakers["names"] = names
    return voice_description.describe(sample_rate, n_vocab, text_encoder, decoder, speakers, text, defaults,
                                      duration_predictor=vits_layout.predictor(stochastic))
