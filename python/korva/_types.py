"""The structs, callbacks and constants of korva.h, declared field for field in
the same order, so that ctypes lays them out as the C compiler does."""
import ctypes
from ctypes import POINTER, c_char_p, c_float, c_int, c_int32, c_longlong, c_size_t, c_void_p

OUTPUT_RATE = 48000  # Hz, of the audio unless native_rate is asked for
SEED_NEXT = -1
PRECISIONS = {"fp32": 0, "bf16": 1}
TIMING_KINDS = {0: "word", 1: "phoneme"}

AudioCallback = ctypes.CFUNCTYPE(c_int, POINTER(c_float), c_int, c_void_p)


class CTiming(ctypes.Structure):
    _fields_ = [
        ("kind", c_int),
        ("text", c_char_p),
        ("text_offset", c_int),
        ("text_length", c_int),
        ("start_sample", c_longlong),
        ("end_sample", c_longlong),
    ]


TimingCallback = ctypes.CFUNCTYPE(c_int, POINTER(CTiming), c_void_p)


class COptions(ctypes.Structure):
    _fields_ = [
        ("size", c_size_t),
        ("speed", c_float),
        ("length_scale", c_float),
        ("noise_scale", c_float),
        ("noise_scale_w", c_float),
        ("speaker", c_int),
        ("speaker_name", c_char_p),
        ("seed", c_longlong),
        ("native_rate", c_int),
        ("normalize", c_int),
        ("ssml", c_int),
        ("split_sentences", c_int),
        ("sentence_silence", c_float),
        ("on_timing", TimingCallback),
        ("timing_user", c_void_p),
    ]


class CVoiceInfo(ctypes.Structure):
    _fields_ = [
        ("size", c_size_t),
        ("sample_rate", c_int),
        ("n_speakers", c_int),
        ("front_end", c_char_p),
        ("noise_scale", c_float),
        ("noise_scale_w", c_float),
        ("length_scale", c_float),
    ]


class CUtteranceIds(ctypes.Structure):
    _fields_ = [
        ("phonemes", c_char_p),
        ("ids", POINTER(c_int32)),
        ("n_ids", c_int),
    ]


class CTextIds(ctypes.Structure):
    _fields_ = [
        ("n_utterances", c_int),
        ("utterances", POINTER(CUtteranceIds)),
    ]
