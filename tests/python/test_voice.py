"""Speaking through the binding, with short texts (a few seconds of synthesis)."""
import threading
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


def test_stream_left_early_stops_and_the_voice_speaks_meanwhile(voice, hello):
    stream = voice.stream("Hi.", seed=1)
    first = next(stream)
    assert np.array_equal(voice.synthesize("Hi.", seed=1), hello)  # beside the open stream
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


def test_values_the_library_cannot_take_whole_are_refused(voice):
    for bad in ("Hi\0 there.", "Hi \ud800."):
        with pytest.raises(ValueError, match="NUL|not valid Unicode"):
            voice.synthesize(bad)
        with pytest.raises(ValueError, match="NUL|not valid Unicode"):
            voice.text_to_ids(bad)
    with pytest.raises(ValueError, match="does not fit a 64-bit"):
        voice.synthesize("No.", seed=2**64 + 5)
    with pytest.raises(ValueError, match="does not fit a 32-bit"):
        voice.synthesize("No.", speaker=2**32 + 1)


def test_closing_a_voice_from_a_callback_or_beside_a_stream_read_elsewhere(voice_path):
    with korva.Voice(voice_path) as other:
        with pytest.raises(korva.KorvaError, match="from inside one of its own callbacks"):
            other.synthesize("Hi.", on_timing=lambda timing: other.close())
        assert not other.closed
        stream = other.stream("Hi. And a second sentence. And a third one.", seed=1)
        read = []
        reader = threading.Thread(target=lambda: read.extend(stream))
        reader.start()
        while not read:
            reader.join(0.01)
        other.close()  # stops the stream that the reader waits on
        reader.join(60)
        assert not reader.is_alive() and other.closed


def test_two_voices_speak_from_threads_as_they_do_alone(voice, voice_path, hello):
    jobs = [("Hi.", 1), ("Two voices at once.", 2), ("And threads.", 3), ("Hi.", 1)]
    with korva.Voice(voice_path, threads=1) as other:
        voices = [voice, other, voice, other]
        alone = [v.synthesize(text, seed=seed) for v, (text, seed) in zip(voices, jobs)]
        together = [None] * len(jobs)

        def speak(i):
            together[i] = voices[i].synthesize(jobs[i][0], seed=jobs[i][1])

        threads = [threading.Thread(target=speak, args=(i,)) for i in range(len(jobs))]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        for a, b in zip(alone, together):
            assert np.array_equal(a, b)
        assert np.array_equal(alone[0], hello) and np.array_equal(alone[3], hello)
    assert other.closed and not voice.closed
    assert np.array_equal(voice.synthesize("Hi.", seed=1), hello)  # closing one leaves the other
    with pytest.raises(korva.KorvaError, match="closed"):
        other.synthesize("No.")


def test_log_levels(voice, capfd):
    korva.set_log_level("info")
    voice.synthesize("Hi.", seed=1)
    assert "[korva] Random seed: 1" in capfd.readouterr().err
    korva.set_log_level("warning")  # the package's default
    voice.synthesize("Hi.", seed=1)
    assert capfd.readouterr().err == ""
    with pytest.raises(ValueError, match="off, error, warning, info"):
        korva.set_log_level("loud")
