"""The phone table of the constructed voice: every token id with its class,
duration in frames and acoustic figures. Data only; phone_material.py turns
the figures into waveforms.

Formants are (frequency Hz, bandwidth Hz, level dB); noise peaks the same.
"""
from collections import namedtuple

# Token ids as the tokenizer numbers them: 0 pad, 1 end, 2 start, 3 blank, then these from 4.
SYMBOLS = ("a b d e f h i j k l m n o p s t u v w z æ ð ŋ ɑ ɔ ə ɚ ɛ ɡ ɪ ɹ ʃ ʊ ʌ ʒ \u0361 θ … "
           .split(" ")[:-1] + [" ", "!", ",", ".", ":", ";", "?"])
PAD, END, START, BLANK = 0, 1, 2, 3
VOCABULARY = 4 + len(SYMBOLS)

SAMPLE_RATE = 48000
FRAME = 512            # samples per frame
PERIOD = 256           # samples per pitch period: 187.5 Hz, divides FRAME

VOWEL_BANDWIDTHS = (90, 110, 170)
EXTRA_PEAKS = ((3500, 250, 0.0), (4500, 300, 0.0))  # above F3, on every voiced phone
TILT_DB_PER_OCTAVE = -8.0   # from F1 up
FLOOR_DB = -60.0

Phone = namedtuple("Phone", "kind frames figures")

# Vowels: F1 F2 F3 in Hz. u is fronted (F2 1300, not 900), as in American "two":
# the recogniser heard nothing in a back "two" and gets every digit with this one.
VOWELS = {
    "i": (290, 2250, 2950), "ɪ": (400, 1950, 2550), "e": (460, 2050, 2650), "ɛ": (550, 1800, 2500),
    "æ": (680, 1700, 2400), "a": (740, 1250, 2450), "ɑ": (740, 1100, 2450), "ɔ": (590, 880, 2450),
    "o": (500, 900, 2450), "ʊ": (450, 1050, 2250), "u": (320, 1300, 2250), "ʌ": (630, 1200, 2400),
    "ə": (520, 1450, 2450), "ɚ": (480, 1350, 1650),
}
SHORT_VOWELS = ("ɪ", "ʊ", "ə")
VOWEL_RMS = 0.11

GLIDES = {"w": (300, 650, 2200), "j": (280, 2200, 3000), "l": (360, 1000, 2800), "ɹ": (350, 1050, 1500)}
GLIDE_RMS = 0.07

# Nasal murmur: low F1, weak F2/F3, and an anti-resonance (Hz) that tells them apart.
NASALS = {
    "m": {"F2": 1050, "F3": 2250, "zero": 800},
    "n": {"F2": 1500, "F3": 2500, "zero": 1600},
    "ŋ": {"F2": 2000, "F3": 2650, "zero": 3000},
}
NASAL_MURMUR = {"F1": (250, 150, 0.0), "F2": (200, -30.0), "F3": (250, -32.0), "high": (3500, 300, -36.0),
                "zero_bandwidth": 200, "rms": 0.08}
# Formant loci the vowel starts from (ends at) next to a nasal; ŋ's depends on the vowel's F2.
NASAL_LOCI = {"m": (250, 800, 2200), "n": (250, 1800, 2800), "ŋ": (250, 2300, 2700), "ŋ back": (250, 1500, 2300)}
NASAL_LOCUS_PULL = 0.45
NASAL_FRONT_F2 = 1500

# Fricatives: noise peaks, high-pass edge (Hz), rms of the noise, whether voiced.
FRICATIVES = {
    "s": (((5500, 2000, 0.0), (8500, 3000, -3.0)), 3800, 0.055, False),
    "z": (((5500, 2000, 0.0), (8500, 3000, -3.0)), 3800, 0.03, True),
    "ʃ": (((2700, 700, 0.0), (4300, 1800, -6.0)), 1900, 0.055, False),
    "ʒ": (((2700, 700, 0.0), (4300, 1800, -6.0)), 1900, 0.03, True),
    "f": (((2500, 3000, 0.0), (8000, 6000, 0.0)), 0, 0.018, False),
    "v": (((2500, 3000, 0.0), (8000, 6000, 0.0)), 0, 0.01, True),
    "θ": (((2500, 3000, 0.0), (8000, 6000, 0.0)), 0, 0.016, False),
    "ð": (((2500, 3000, 0.0), (8000, 6000, 0.0)), 0, 0.01, True),
}
VOICING = ((250, 100, 0.0),)   # the weak low buzz of voiced fricatives and voiced stops' closures
VOICING_RMS = {"fricative": 0.02, "stop": 0.012}

# Stops: burst peak (Hz, bandwidth), high-pass edge, burst rms, aspiration F2 locus (None: voiced).
STOPS = {
    "p": ((900, 600), 0, 0.08, 1000), "b": ((900, 600), 0, 0.04, None),
    "t": ((4500, 2000), 2500, 0.10, 1700), "d": ((4500, 2000), 2500, 0.05, None),
    "k": ((2100, 800), 0, 0.09, 2000), "ɡ": ((2100, 800), 0, 0.045, None),
}
BURST_LEAD = 1000       # samples from the burst onset to the next phone
BURST_DECAY = 150       # samples, e-folding time of the burst
ASPIRATION_RMS = 0.03

BREATH = {"h": (VOWELS["ə"], 0.02)}

DURATIONS = {"vowel": 11, "short vowel": 8, "glide": 8, "nasal": 10, "fricative": 9, "voiced fricative": 7,
             "stop": 6, "voiced stop": 5, "breath": 5}
PAUSES = {".": 22, "!": 22, "?": 22, ",": 16, ":": 16, ";": 16, "…": 30}
EDGE_SILENCE = 30       # frames at start and end: recognisers need the silence
SILENT_SYMBOLS = (" ", "\u0361")   # word space and tie bar take no frames


def _table():
    table = {PAD: Phone("none", 0, None), END: Phone("pause", EDGE_SILENCE, None),
             START: Phone("pause", EDGE_SILENCE, None), BLANK: Phone("none", 0, None)}
    for offset, s in enumerate(SYMBOLS):
        if s in VOWELS:
            phone = Phone("vowel", DURATIONS["short vowel" if s in SHORT_VOWELS else "vowel"], VOWELS[s])
        elif s in GLIDES:
            phone = Phone("glide", DURATIONS["glide"], GLIDES[s])
        elif s in NASALS:
            phone = Phone("nasal", DURATIONS["nasal"], NASALS[s])
        elif s in FRICATIVES:
            voiced = FRICATIVES[s][3]
            phone = Phone("fricative", DURATIONS["voiced fricative" if voiced else "fricative"], FRICATIVES[s])
        elif s in STOPS:
            voiced = STOPS[s][3] is None
            phone = Phone("stop", DURATIONS["voiced stop" if voiced else "stop"], STOPS[s])
        elif s in BREATH:
            phone = Phone("breath", DURATIONS["breath"], BREATH[s])
        elif s in PAUSES:
            phone = Phone("pause", PAUSES[s], None)
        elif s in SILENT_SYMBOLS:
            phone = Phone("none", 0, None)
        else:
            raise ValueError(f"symbol {s!r} has no entry in the phone table")
        table[4 + offset] = phone
    return table


PHONES = _table()
ID = {s: 4 + i for i, s in enumerate(SYMBOLS)}


def frames(token):
    """Frames the voice gives `token` at length scale 1."""
    return PHONES[token].frames
