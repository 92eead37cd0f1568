"""Finds libkorva.so and declares the C functions the package calls."""
import ctypes
import ctypes.util
import functools
import os
from ctypes import POINTER, c_char_p, c_float, c_int, c_size_t, c_void_p

from ._types import AudioCallback, COptions, CTextIds, CVoiceInfo
from .errors import KorvaError

SONAME = "libkorva.so.0"

_PROTOTYPES = {
    "korva_load": (c_int, [c_char_p, c_char_p]),
    "korva_unload": (None, []),
    "korva_options_default": (c_int, [POINTER(COptions), c_size_t]),
    "korva_synthesize": (c_int, [c_char_p, POINTER(COptions), AudioCallback, c_void_p]),
    "korva_set_precision": (c_int, [c_int]),
    "korva_get_voice_info": (c_int, [POINTER(CVoiceInfo), c_size_t]),
    "korva_speaker_name": (c_char_p, [c_int]),
    "korva_last_error": (c_char_p, []),
    "korva_text_to_ids": (POINTER(CTextIds), [c_char_p, POINTER(COptions)]),
    "korva_text_ids_free": (None, [POINTER(CTextIds)]),
}


def library_path():
    """Where libkorva is loaded from: $KORVA_LIBRARY when set; else the library
    installed next to this package; else the name for the dynamic loader's search."""
    given = os.environ.get("KORVA_LIBRARY")
    if given:
        return given
    beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), SONAME)
    if os.path.exists(beside):
        return beside
    return ctypes.util.find_library("korva") or SONAME


@functools.lru_cache(maxsize=None)
def library():
    """libkorva, loaded once, with its functions' argument and result types."""
    path = library_path()
    try:
        lib = ctypes.CDLL(path)
    except OSError as error:
        raise KorvaError(f"cannot load libkorva ({error}); set KORVA_LIBRARY to its path") from None
    for name, (result, arguments) in _PROTOTYPES.items():
        function = getattr(lib, name)
        function.restype = result
        function.argtypes = arguments
    return lib
