"""Speaking through the binding, with short texts (a few seconds of synthesis)."""
import wave

import numpy as np
import pytest

import korva
from korva import audio


_spoken = {}


@pytest.fixture
def hello(voice):
    """"Hi." with seed 1, synthesised once."""
    if "hello" not in _spoken:
        _spoken["hello"] = voice.synthesize("Hi.", seed=1)
    return _spoken["hello"]


def test_synthesize_gives_normalised_float32(voice, hello):
    assert voice.sample_rate == 48000 and voice.native_sample_rate > 0
    assert hello.dtype == np.float32 and hello.ndim == 1
    assert 0.1 * voice.sample_rate < len(hello) < 3 * voice.sample_rate
    assert np.abs(hello).max() == pytest.approx(0.95)


def test_stream_chunks_are_the_raw_samples(voice, hello):
    chunks = list(voice.stream("Hi.", seed=1))
    assert len(chunks) > 1 and all(chunk.dtype == np.float32 for chunk in chunks)
    assert np.array_equal(audio.normalise_peak(np.concatenate(chunks)), hello)


def test_stream_left_early_stops_and_frees_the_engine(voice, hello):
    stream = voice.stream("Hi.", seed=1)
    first = next(stream)
    with pytest.raises(korva.KorvaError, match="busy with an open stream"):
        voice.synthesize("No.")
    stream.close()
    assert list(stream) == []
    assert 0 < len(first) < len(hello)
    with pytest.raises(korva.KorvaError, match="speaker 5 out of range"):
        voice.synthesize("No.", speaker=5)  # free again, and usable after a refused request


def test_save_wav(voice, hello, tmp_path, monkeypatch):
    monkeypatch.setattr(voice, "synthesize", lambda text, **options: hello.copy())
    path = tmp_path / "hi.wav"
    voice.save_wav("Hi.", path, seed=1)
    with wave.open(str(path)) as wav:
        assert wav.getframerate() == voice.sample_rate
        assert np.array_equal(np.frombuffer(wav.readframes(wav.getnframes()), "<i2"), audio.pcm16(hello))


def test_options_reach_the_engine(voice):
    assert voice.speakers == [None] * len(voice.speakers)
    with pytest.raises(korva.KorvaError, match="unknown speaker name 'nobody'"):
        voice.synthesize("No.", speaker="nobody")
    with pytest.raises(korva.KorvaError, match="speed must be a positive number"):
        voice.synthesize("No.", speed=-1)
    with pytest.raises(ValueError, match="fp32, bf16"):
        voice.set_precision("fp16")
    voice.set_precision("fp32")


def test_one_voice_per_process(voice, voice_path):
    with pytest.raises(korva.KorvaError, match="already loaded"):
        korva.Voice(voice_path)
    voice.close()
    with pytest.raises(korva.KorvaError, match="closed"):
        voice.synthesize("No.")
    with korva.Voice(voice_path) as again:
        assert not again.closed
    assert again.closed
