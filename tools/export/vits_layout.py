"""--from-vits: a generator checkpoint of the public VITS training code with its
config.json ("data" and "model" sections). Names as vits_checkpoint renames
them, plus the speaker parts (emb_g, dp.cond, the flows' cond_layer, dec.cond);
the posterior encoder and the duration predictor's post_* networks only serve
training and are dropped."""
from vits_checkpoint import generator_state, rename as rename_network
from vits_symbols import SYMBOLS, symbol_ids
from voice_conversion import read_files
import voice_description

FLAG = "--from-vits"
SOURCE = "a generator checkpoint of the public VITS training code (G.pth) with its config.json"
NEEDS_CONFIG = True


def read(source, config_path, problems):
    return read_files(source, config_path, problems, generator_state)

_TEXT_ENCODER = ("inter_channels", "hidden_channels", "filter_channels", "n_heads", "n_layers", "kernel_size")
_DECODER = (("resblock", "str"), ("resblock_kernel_sizes", "ints"), ("resblock_dilation_sizes", "int_lists"),
            ("upsample_rates", "ints"), ("upsample_kernel_sizes", "ints"), ("upsample_initial_channel", "int"))


def rename(key):
    if key.startswith("emb_g."):
        return key
    if key.startswith("dp.post_"):
        return None
    return rename_network(key)


def dropped_group(key):
    return "dp.post_*" if key.startswith("dp.post_") else key.partition(".")[0]


def read_sizes(fields, prefix):
    """The text encoder and decoder sections from fields named as the public VITS config names them."""
    text_encoder = {name: fields.get(prefix + name, "int") for name in _TEXT_ENCODER}
    decoder = {name: fields.get(prefix + name, kind) for name, kind in _DECODER}
    return text_encoder, decoder


def describe(fields):
    """The voice description from the config, or None when a field is missing."""
    known = len(fields.problems)
    text_encoder, decoder = read_sizes(fields, "model.")
    sample_rate = fields.get("data.sampling_rate", "int")
    add_blank = fields.get("data.add_blank", "bool")
    n_speakers = fields.get("data.n_speakers", "int", 0)
    gin = fields.get("model.gin_channels", "int", 0)
    n_vocab = fields.get("n_vocab", "int", len(SYMBOLS))  # the public code sizes it by its table
    if not fields.get("model.use_sdp", "bool", True):
        fields.problems.append(f"{fields.source}: model.use_sdp is false: korva runs the stochastic "
                               "duration predictor only")
    if len(fields.problems) > known:
        return None
    front_end = {"kind": "espeak", "language": "en-us", "symbols": symbol_ids(SYMBOLS)}
    if add_blank:
        front_end["blank"] = 0
    return voice_description.describe(sample_rate, n_vocab, text_encoder, decoder,
                                      {"n_speakers": n_speakers, "gin_channels": gin}, front_end)
