"""The binding's own pieces, without a voice: the struct layouts against the
library, callbacks, samples and WAV files, and errors."""
import ctypes
import wave

import numpy as np
import pytest

import korva
from korva import _library, audio
from korva._types import COptions, CTiming, SEED_NEXT
from korva.callbacks import Callbacks
from korva.options import native_options


def options(**given):
    return native_options(_library.library(), given, Callbacks(), b"")


def test_options_struct_matches_the_library():
    # korva_options_default writes through the C layout: a wrong Python one reads other fields.
    defaults = options()
    assert defaults.size == ctypes.sizeof(COptions)
    assert (defaults.speed, defaults.length_scale, defaults.noise_scale, defaults.noise_scale_w) == (
        1.0, 0.0, -1.0, -1.0)
    assert (defaults.speaker, defaults.speaker_name, defaults.seed) == (0, None, SEED_NEXT)
    assert (defaults.native_rate, defaults.normalize, defaults.ssml, defaults.split_sentences) == (
        0, 1, 0, 1)
    assert defaults.sentence_silence == -1.0  # the voice's own
    assert not defaults.on_timing and defaults.timing_user is None


def test_options_from_keywords():
    given = options(speed=1.5, seed=7, native_rate=True, ssml=1, normalize=False, speaker="anna",
                    noise_scale=None, on_timing=lambda timing: None)
    assert (given.speed, given.seed, given.native_rate, given.ssml, given.normalize) == (1.5, 7, 1, 1, 0)
    assert given.speaker_name == b"anna" and given.noise_scale == -1.0 and given.on_timing
    assert options(speaker=2).speaker == 2
    with pytest.raises(TypeError, match="unknown option 'sped'"):
        options(sped=2)


def test_timing_offsets_count_characters():
    text = "Café au lait".encode("utf-8")  # é is two bytes
    word = CTiming(kind=0, text=b"au", text_offset=6, text_length=2, start_sample=100, end_sample=900)
    timing = korva.Timing.from_c(word, text)
    assert timing == korva.Timing("word", "au", 5, 2, 100, 900)
    assert korva.Timing.from_c(CTiming(kind=1, text=b"e", text_offset=0, text_length=5), text).kind == "phoneme"


def test_callback_exception_stops_the_call_and_is_raised_after_it():
    calls = Callbacks()

    def fail(chunk):
        raise ValueError(f"bad chunk of {len(chunk)}")

    callback = calls.audio(fail)
    samples = (ctypes.c_float * 3)(0.1, 0.2, 0.3)
    assert callback(samples, 3, None) == 1
    assert callback(samples, 3, None) == 1  # stays stopped
    with pytest.raises(ValueError, match="bad chunk of 3"):
        calls.raise_pending()
    calls.raise_pending()  # raised once


def test_peak_and_pcm_as_the_library_writes_them(tmp_path):
    loud = np.array([0.5, -2.0, np.nan, 1.0], np.float32)
    assert audio.normalise_peak(loud)[1] == np.float32(-0.95)
    quiet = np.array([0.005, -0.001], np.float32)
    assert np.array_equal(audio.normalise_peak(quiet.copy()), quiet)  # near silence: no gain
    assert audio.pcm16(np.array([1.5, -1.0, 0.5, -0.99999, np.nan], np.float32)).tolist() == [
        32767, -32767, 16383, -32766, 0]

    path = tmp_path / "out.wav"
    audio.write_wav(path, np.array([0.0, 0.5, -0.5], np.float32), 22050)
    with wave.open(str(path)) as wav:
        assert (wav.getnchannels(), wav.getsampwidth(), wav.getframerate(), wav.getnframes()) == (1, 2, 22050, 3)
        assert np.frombuffer(wav.readframes(3), "<i2").tolist() == [0, 16383, -16383]


def test_errors_carry_the_engines_reason(tmp_path):
    with pytest.raises(korva.KorvaError, match="cannot load the voice .*missing.pt.*: .+"):
        korva.Voice(tmp_path / "missing.pt")


def test_library_from_the_environment_first(monkeypatch, tmp_path):
    monkeypatch.setenv("KORVA_LIBRARY", str(tmp_path / "libkorva.so"))
    assert _library.library_path() == str(tmp_path / "libkorva.so")
    monkeypatch.delenv("KORVA_LIBRARY")
    assert _library.library_path() in (ctypes.util.find_library("korva"), _library.SONAME)
