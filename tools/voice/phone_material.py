"""Waveforms of the phones, in the final signal's domain (before the decoder's tanh is undone).

Voiced sounds are one pitch period, minimum phase, built from a magnitude
envelope sampled on the harmonics; noise sounds are one frame of shaped noise
with fixed random phases; stop releases are a burst and aspiration that end
just after the next phone starts.
"""
import numpy as np

import phones as P

_GRID = 4096                       # dense spectrum for the minimum-phase step
_HARMONIC_STEP = _GRID // P.PERIOD  # grid bins between harmonics


def _db(level):
    return 10.0 ** (level / 20.0)


def _peaks(f, peaks):
    """Sum of Lorentzian peaks (F, B, level dB) at frequencies f."""
    out = np.zeros_like(f)
    for centre, bandwidth, level in peaks:
        out += _db(level) / (1.0 + ((f - centre) / (bandwidth / 2.0)) ** 2)
    return out


def _highpass(f, edge):
    if edge <= 0:
        return np.ones_like(f)
    return 1.0 / np.sqrt(1.0 + (edge / np.maximum(f, 1.0)) ** 8)


def _anti_resonance(f, centre, bandwidth):
    return np.sqrt((centre ** 2 - f ** 2) ** 2 + (bandwidth * f) ** 2) / centre ** 2


def voiced_envelope(f, formants, bandwidths=P.VOWEL_BANDWIDTHS):
    """Formant peaks at 0 dB, two fixed high peaks, tilt from F1 up, then the floor."""
    peaks = [(F, B, 0.0) for F, B in zip(formants, bandwidths)] + list(P.EXTRA_PEAKS)
    tilt = np.where(f > formants[0], _db(P.TILT_DB_PER_OCTAVE * np.log2(np.maximum(f, 1.0) / formants[0])), 1.0)
    return _peaks(f, peaks) * tilt + _db(P.FLOOR_DB)


def nasal_envelope(f, symbol):
    m, nasal = P.NASAL_MURMUR, P.NASALS[symbol]
    peaks = [m["F1"], (nasal["F2"],) + m["F2"], (nasal["F3"],) + m["F3"], m["high"]]
    return (_peaks(f, peaks) + _db(P.FLOOR_DB)) * _anti_resonance(f, nasal["zero"], m["zero_bandwidth"])


def _scale(x, rms):
    return x * (rms / np.sqrt(np.mean(x ** 2)))


def period_from_envelope(envelope, rms):
    """One minimum-phase pitch period (P.PERIOD samples) whose harmonics follow `envelope(f)`."""
    f = np.arange(_GRID // 2 + 1) * P.SAMPLE_RATE / _GRID
    cepstrum = np.fft.irfft(np.log(np.maximum(envelope(f), 1e-9)), _GRID)
    fold = np.zeros(_GRID)
    fold[0], fold[_GRID // 2] = cepstrum[0], cepstrum[_GRID // 2]
    fold[1:_GRID // 2] = 2.0 * cepstrum[1:_GRID // 2]
    spectrum = np.exp(np.fft.rfft(fold))
    harmonics = spectrum[::_HARMONIC_STEP].copy()
    harmonics[0] = harmonics[-1] = 0.0   # no DC, no Nyquist
    return _scale(np.fft.irfft(harmonics, P.PERIOD), rms)


def vowel_period(formants, rms=P.VOWEL_RMS, bandwidths=P.VOWEL_BANDWIDTHS):
    return period_from_envelope(lambda f: voiced_envelope(f, formants, bandwidths), rms)


def nasal_period(symbol):
    return period_from_envelope(lambda f: nasal_envelope(f, symbol), P.NASAL_MURMUR["rms"])


def shaped_noise(length, envelope, rms, seed):
    """`length` samples of noise, periodic over `length`, with magnitude `envelope(f)` and fixed phases."""
    rng = np.random.default_rng(seed)
    f = np.arange(length // 2 + 1) * P.SAMPLE_RATE / length
    spectrum = envelope(f) * np.exp(2j * np.pi * rng.random(f.size))
    spectrum[0] = 0.0
    return _scale(np.fft.irfft(spectrum, length), rms)


def _symbol_seed(symbol, salt=0):
    return 1000 * salt + P.ID[symbol]


def fricative_frame(symbol):
    """One frame of the fricative's noise, plus a weak buzz when voiced."""
    peaks, edge, rms, voiced = P.FRICATIVES[symbol]
    frame = shaped_noise(P.FRAME, lambda f: _peaks(f, peaks) * _highpass(f, edge), rms, _symbol_seed(symbol))
    if voiced:
        frame += np.tile(voicing_period("fricative"), P.FRAME // P.PERIOD)
    return frame


def voicing_period(kind):
    return period_from_envelope(lambda f: _peaks(f, P.VOICING) + _db(P.FLOOR_DB), P.VOICING_RMS[kind])


def breath_frame(symbol):
    formants, rms = P.BREATH[symbol]
    return shaped_noise(P.FRAME, lambda f: voiced_envelope(f, formants), rms, _symbol_seed(symbol))


RELEASE_LENGTH = 3 * P.FRAME   # samples: two frames before the next phone and half a frame into it
RELEASE_BOUNDARY = 2 * P.FRAME + P.FRAME // 2   # index of the next phone's first sample


def stop_release(symbol):
    """Burst and aspiration of a stop over RELEASE_LENGTH samples; the next phone starts at RELEASE_BOUNDARY."""
    (centre, bandwidth), edge, rms, locus = P.STOPS[symbol]
    n = np.arange(RELEASE_LENGTH, dtype=np.float64)
    onset = RELEASE_BOUNDARY - P.BURST_LEAD
    after = n - onset
    shape = np.where(after >= 0, np.exp(-np.maximum(after, 0) / P.BURST_DECAY), 0.0)
    burst = shaped_noise(RELEASE_LENGTH, lambda f: _peaks(f, ((centre, bandwidth, 0.0),)) * _highpass(f, edge),
                         1.0, _symbol_seed(symbol, 1)) * shape
    burst *= rms / np.sqrt(np.mean(burst[onset:onset + 2 * P.BURST_DECAY] ** 2))
    if locus is None:
        return burst
    rise = np.clip((n - onset - P.BURST_DECAY) / P.BURST_DECAY, 0.0, 1.0)
    fall = np.clip((RELEASE_LENGTH - n) / (RELEASE_LENGTH - RELEASE_BOUNDARY), 0.0, 1.0)
    breath = shaped_noise(RELEASE_LENGTH, lambda f: voiced_envelope(f, (500, locus, 2500)), P.ASPIRATION_RMS,
                          _symbol_seed(symbol, 2))
    return burst + breath * rise * fall
