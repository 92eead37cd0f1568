"""A request's keyword options as a korva_options struct.

A value of None leaves the engine's default; the engine checks the values and
its reason comes back in the KorvaError."""
import ctypes

from ._types import COptions

_NUMBERS = {
    "speed": float,
    "length_scale": float,
    "noise_scale": float,
    "noise_scale_w": float,
    "seed": int,
    "sentence_silence": float,
}
_FLAGS = ("native_rate", "normalize", "ssml", "split_sentences")
_C_LIMITS = {"seed": ctypes.c_longlong, "speaker": ctypes.c_int}


def _fitted(name, value):
    """`value` as an int that its C field holds whole: ctypes would keep only its low bits."""
    number = int(value)
    bits = 8 * ctypes.sizeof(_C_LIMITS[name])
    if not -(1 << (bits - 1)) <= number < 1 << (bits - 1):
        raise ValueError(f"{name} {number} does not fit a {bits}-bit integer")
    return number


def encoded_text(text):
    """`text` as the library takes it: UTF-8 without NUL, which would end it early."""
    if "\0" in text:
        raise ValueError("the text contains a NUL character")
    try:
        return text.encode("utf-8")
    except UnicodeEncodeError as error:
        raise ValueError(f"the text is not valid Unicode: {error}") from None
NAMES = frozenset(_NUMBERS) | frozenset(_FLAGS) | {"speaker", "on_timing"}


def native_options(lib, options, callbacks, encoded_text):
    """COptions from korva_options_default with `options` (a dict) over it. The
    struct keeps the objects its pointers refer to (name, timing callback)."""
    unknown = sorted(set(options) - NAMES)
    if unknown:
        raise TypeError(f"unknown option {unknown[0]!r}; the options are {', '.join(sorted(NAMES))}")
    native = COptions()
    lib.korva_options_default(ctypes.byref(native), ctypes.sizeof(native))
    for name, value in options.items():
        if value is None:
            continue
        if name == "seed":
            native.seed = _fitted(name, value)
        elif name in _NUMBERS:
            setattr(native, name, _NUMBERS[name](value))
        elif name in _FLAGS:
            setattr(native, name, 1 if value else 0)
        elif name == "speaker":
            if isinstance(value, str):
                native.speaker_name = value.encode("utf-8")
            else:
                native.speaker = _fitted(name, value)
        else:
            native.on_timing = callbacks.timing(value, encoded_text)
    return native
