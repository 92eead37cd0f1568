"""The voice description record ("voice.json") that converted archives carry:
every size of the network, the speakers, the sample rate, the text front-end
with its symbol table and framing, and the voice's inference defaults.

describe() assembles one from sizes a converter has read, check() lists what
would make korva refuse it, encode() gives the record's bytes.
"""
import json

RECORD = "voice.json"
FORMAT = 1
FRONT_ENDS = ("korva", "espeak", "characters", "piper")

# The sizes every published VITS family fixes in its constructors.
FLOW = {"n_couplings": 4, "kernel_size": 5, "dilation_rate": 1, "n_layers": 4}
STOCHASTIC_PREDICTOR = {"kind": "stochastic", "kernel_size": 3, "n_dds_layers": 3, "n_flows": 4,
                        "num_bins": 10, "tail_bound": 5.0}
WINDOW_SIZE = 4
# ... and the deterministic predictor's, of the families that may train one instead
DETERMINISTIC_PREDICTOR = {"kind": "deterministic", "filter_channels": 256, "kernel_size": 3}
INFERENCE = {"noise_scale": 0.667, "noise_scale_w": 0.8, "length_scale": 1.0}


def stochastic_predictor(filter_channels, **sizes):
    return {**STOCHASTIC_PREDICTOR, "filter_channels": filter_channels, **sizes}


def describe(sample_rate, n_vocab, text_encoder, decoder, speakers, front_end, inference=None,
             flow=None, duration_predictor=None):
    """A complete description; absent sections take the published VITS values."""
    te = dict(text_encoder)
    te.setdefault("window_size", WINDOW_SIZE)
    dp = dict(duration_predictor or stochastic_predictor(te["hidden_channels"]))
    return {"format": FORMAT, "sample_rate": sample_rate, "n_vocab": n_vocab, "text_encoder": te,
            "duration_predictor": dp, "flow": dict(flow or FLOW), "decoder": dict(decoder),
            "speakers": dict(speakers), "front_end": dict(front_end),
            "inference": dict(inference or INFERENCE)}


def _positive(problems, section, values, zero_allowed=()):
    for key, value in values.items():
        low = 0 if key in zero_allowed else 1e-30
        if isinstance(value, bool) or not isinstance(value, (int, float)) or value < low:
            problems.append(f"{section}.{key} is {value!r}, expected a {'non-negative' if low == 0 else 'positive'} number")


def _check_decoder(dec, problems):
    if dec["resblock"] not in ("1", "2"):
        problems.append(f"decoder.resblock is {dec['resblock']!r}, expected \"1\" or \"2\"")
    rates, kernels = dec["upsample_rates"], dec["upsample_kernel_sizes"]
    if len(rates) != len(kernels):
        problems.append(f"decoder: {len(rates)} upsample_rates but {len(kernels)} upsample_kernel_sizes")
    if len(dec["resblock_kernel_sizes"]) != len(dec["resblock_dilation_sizes"]):
        problems.append(f"decoder: {len(dec['resblock_kernel_sizes'])} resblock_kernel_sizes but "
                        f"{len(dec['resblock_dilation_sizes'])} resblock_dilation_sizes")
    if dec["upsample_initial_channel"] % (1 << len(kernels)):
        problems.append(f"decoder.upsample_initial_channel {dec['upsample_initial_channel']} does not halve "
                        f"{len(kernels)} times")
    for rate, kernel in zip(rates, kernels):
        if kernel < rate or (kernel - rate) % 2:
            problems.append(f"decoder: upsample kernel {kernel} does not fit rate {rate} "
                            "(needs kernel >= rate, kernel - rate even)")


def _check_front_end(voice, problems):
    fe, n_vocab = voice["front_end"], voice["n_vocab"]
    if fe.get("kind") not in FRONT_ENDS:
        problems.append(f"front_end.kind is {fe.get('kind')!r}, expected one of {', '.join(FRONT_ENDS)}")
    for key in ("blank", "start", "end"):
        value = fe.get(key)
        if value is not None and not 0 <= value < n_vocab:
            problems.append(f"front_end.{key} is {value}, outside the vocabulary of {n_vocab}")
    for symbol, ids in fe.get("symbols", {}).items():
        if not symbol or not ids or not all(isinstance(i, int) and 0 <= i < n_vocab for i in ids):
            problems.append(f"front_end.symbols[{symbol!r}] is {ids}: needs ids within the vocabulary of {n_vocab}")


def _check_speakers(spk, problems):
    n, gin = spk["n_speakers"], spk["gin_channels"]
    if (n > 1) != (gin > 0):
        problems.append(f"speakers: {n} speakers with gin_channels {gin} (several speakers need a "
                        "speaker embedding width, one speaker none)")
    for name, sid in spk.get("names", {}).items():
        if not isinstance(sid, int) or not 0 <= sid < max(n, 1):
            problems.append(f"speakers.names[{name!r}] is {sid!r}, outside 0..{max(n, 1) - 1}")


def check(voice):
    """Every reason korva would refuse the description, as messages naming the field."""
    problems = []
    _positive(problems, "voice", {"sample_rate": voice["sample_rate"], "n_vocab": voice["n_vocab"]})
    te = voice["text_encoder"]
    _positive(problems, "text_encoder", te)
    _positive(problems, "duration_predictor", {k: v for k, v in voice["duration_predictor"].items() if k != "kind"})
    _positive(problems, "flow", voice["flow"])
    _positive(problems, "inference", voice["inference"], zero_allowed=("noise_scale", "noise_scale_w"))
    if problems:
        return problems  # the checks below compute with these sizes
    if te["hidden_channels"] % te["n_heads"]:
        problems.append(f"text_encoder: hidden_channels {te['hidden_channels']} is not a multiple of "
                        f"n_heads {te['n_heads']}")
    if te["inter_channels"] % 2:
        problems.append(f"text_encoder.inter_channels {te['inter_channels']} is odd: the flow halves it")
    kernels = {"text_encoder.kernel_size": te["kernel_size"], "flow.kernel_size": voice["flow"]["kernel_size"],
               "duration_predictor.kernel_size": voice["duration_predictor"]["kernel_size"],
               **{f"decoder.resblock_kernel_sizes[{i}]": k
                  for i, k in enumerate(voice["decoder"]["resblock_kernel_sizes"])}}
    problems += [f"{field} is {k}: an even kernel would change the length" for field, k in kernels.items() if k % 2 == 0]
    _check_decoder(voice["decoder"], problems)
    _check_speakers(voice["speakers"], problems)
    _check_front_end(voice, problems)
    return problems


def encode(voice):
    """The record's bytes: UTF-8 JSON, symbols written as themselves (no \\u escapes)."""
    return json.dumps(voice, indent=1, ensure_ascii=False).encode("utf-8")
