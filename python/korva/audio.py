"""Samples as the C library's korva_tts and WAV files have them."""
import wave

import numpy as np

_TARGET_PEAK = np.float32(0.95)
_QUIET = 0.01  # a peak this low is left as it is: no gain on near silence


def normalise_peak(samples):
    """Scales float32 `samples` in place so that their peak is 0.95, as korva_tts
    does (in float32, NaN ignored); returns them."""
    peak = np.fmax.reduce(np.abs(samples), initial=np.float32(0))
    if peak > _QUIET:
        samples *= _TARGET_PEAK / np.float32(peak)
    return samples


def pcm16(samples):
    """16-bit samples as korva writes them: clipped to [-1, 1], times 32767, truncated."""
    clipped = np.clip(np.nan_to_num(samples, nan=0.0), -1.0, 1.0)
    return (clipped * np.float32(32767)).astype("<i2")


def write_wav(path, samples, rate):
    """A 16-bit PCM mono WAV file of float `samples` at `rate` Hz."""
    with wave.open(str(path), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(pcm16(samples).tobytes())
