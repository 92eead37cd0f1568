"""Voices of the trained families' front-ends (espeak for the public VITS
voices, piper, characters), tiny and random: noise, made quickly; and, with the
shared golden data, a voice of Piper's shape converted from Piper's training
layout. The ids each front-end feeds its model (the public VITS text cases
exactly), and word timings that hold across sentences, silences, speeds and
resampling."""
import json
import os
import subprocess
import sys

import numpy as np
import pytest

import korva

HERE = os.path.dirname(os.path.realpath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "export"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "export"))
from tiny_voice import write_tiny_voice  # noqa: E402
import vits_symbols  # noqa: E402

SHARED = os.path.join(HERE, "..", "..", "..", "shared", "golden")
GOLDEN = os.path.join(SHARED, "vits-text-cases.json")
PIPER_CONFIG = os.path.join(SHARED, "piper", "tiny.onnx.json")
RATE = 22050
IPA = " !\"',-.:;?abcdefhijklmnopqrstuvwxzæðŋɐɑɔəɚɛɜɡɪɹɾʃʊʌʒʔθˈˌːᵻ̩"


@pytest.fixture(scope="module")
def voices(tmp_path_factory):
    """Paths of a tiny voice per front-end, written once for the module."""
    directory = tmp_path_factory.mktemp("voices")
    vits = {"kind": "espeak", "language": "en-us", "blank": 0,
            "symbols": vits_symbols.symbol_ids(vits_symbols.SYMBOLS)}
    piper = {"kind": "piper", "language": "en-us", "blank": 0, "start": 1, "end": 2,
             "symbols": {"_": [0], "^": [1], "$": [2], **{s: [i + 3] for i, s in enumerate(IPA)}}}
    letters = " ,.abcdefghijklmnopqrstuvwxyz"
    characters = {"kind": "characters", "blank": 0, "symbols": {c: [i + 1] for i, c in enumerate(letters)}}
    paths = {}
    for name, front_end, n_vocab in (("espeak", vits, len(vits_symbols.SYMBOLS)),
                                     ("piper", piper, len(IPA) + 3),
                                     ("characters", characters, len(letters) + 1)):
        paths[name] = str(directory / f"{name}.pt")
        write_tiny_voice(paths[name], front_end, n_vocab, RATE)
    if os.path.exists(PIPER_CONFIG):
        paths["converted piper"] = converted_piper(directory)
    return paths


def converted_piper(directory):
    """The shared generator's tiny Piper shape, saved as Piper's training saves it
    with the shared tiny voice's config (and a silence after commas), converted
    by korva-export --from-piper."""
    import torch
    import vits_fixtures as fx
    state, config = fx.load_vits(*fx.generate("piper-tiny", str(directory)))
    checkpoint, _ = fx.piper(state, config, "weight_g/v", True)
    with open(PIPER_CONFIG, encoding="utf-8") as f:
        voice = json.load(f)
    voice["inference"]["phoneme_silence"] = {",": 0.25}
    files = [str(directory / name) for name in ("tiny.ckpt", "tiny.onnx.json", "converted-piper.pt")]
    torch.save(checkpoint, files[0])
    fx.write_json(files[1], voice)
    subprocess.run([sys.executable, fx.TOOL, "--from-piper", files[0], "--config", files[1], "--out", files[2]],
                   check=True, capture_output=True)
    return files[2]


def test_vits_text_cases_give_the_published_ids(voices, open_own):
    if not os.path.exists(GOLDEN):
        pytest.skip(f"no {GOLDEN}: the shared golden data is not beside the repository")
    with open(GOLDEN, encoding="utf-8") as f:
        cases = json.load(f)["cases"]
    voice = open_own(voices["espeak"])
    differ = []
    for case in cases:
        read = voice.text_to_ids(case["text"], normalize=False, split_sentences=False)
        if [u.ids for u in read] != [case["ids"]]:
            differ.append(f"{case['text']}\n  want {case['phonemes']}\n  got  {[u.phonemes for u in read]}")
    print(f"{len(cases) - len(differ)}/{len(cases)} public VITS text cases exact")
    assert not differ, "\n".join(differ)


def test_piper_frames_each_sentence_and_keeps_its_terminators(voices, open_own):
    voice = open_own(voices["piper"])
    read = voice.text_to_ids("Hello, world. Is it you?")
    assert [u.phonemes for u in read] == ["həlˈoʊ, wˈɜːld.", "ɪz ɪt juː?"]
    for u in read:
        assert u.ids[:2] == [1, 0] and u.ids[-1] == 2 and len(u.ids) == 2 * len(u.phonemes) + 3
    assert [u.phonemes for u in voice.text_to_ids("Hello, world. Is it you?", split_sentences=False)] == [
        "həlˈoʊ, wˈɜːld.", "ɪz ɪt juː?"]  # Piper's own sentences
    with pytest.raises(korva.KorvaError, match="Bad options: speaker 2 out of range"):
        voice.text_to_ids("Hello.", speaker=2)


def timed(voice, text, **options):
    """(audio, words as (text, start, end)) of one synthesis."""
    words = []
    audio = voice.synthesize(text, seed=1, on_timing=lambda t: words.append(t) if t.kind == "word" else None,
                             **options)
    return audio, [(t.text, t.start_sample, t.end_sample) for t in words]


def zero_runs(audio):
    """(start, length) of each run of exact zeros: silences, not decoded audio."""
    zero = np.concatenate([[False], audio == 0.0, [False]])
    edges = np.flatnonzero(np.diff(zero.astype(np.int8)))
    return [(int(a), int(b - a)) for a, b in zip(edges[::2], edges[1::2])]


def test_converted_piper_voice_pauses_after_its_listed_phonemes(voices, open_own):
    if "converted piper" not in voices:
        pytest.skip(f"no {PIPER_CONFIG}: the shared golden data is not beside the repository")
    voice = open_own(voices["converted piper"])
    assert voice.front_end == "piper" and voice.native_sample_rate == 22050
    read = voice.text_to_ids("Hello, world. Bye!")
    assert [u.phonemes for u in read] == ["həlˈoʊ,", " wˈɜːld.", "bˈaɪ!"]
    with open(PIPER_CONFIG, encoding="utf-8") as f:
        table = json.load(f)["phoneme_id_map"]
    assert read[0].ids == [1, 0] + [x for p in "həlˈoʊ," for x in (table[p][0], 0)] + [2]
    # The quarter second after the comma, between the pieces of one sentence.
    audio, words = timed(voice, "Hello, world.", native_rate=True)
    assert [w[0] for w in words] == ["Hello", "world"]
    assert any(length == int(0.25 * 22050 + 0.5) for _, length in zero_runs(audio))


@pytest.mark.parametrize("front_end", ["espeak", "piper", "characters", "converted piper"])
def test_word_timings_hold_across_sentences_silence_speed_and_resampling(voices, open_own, front_end):
    if front_end not in voices:
        pytest.skip(f"no {PIPER_CONFIG}: the shared golden data is not beside the repository")
    voice = open_own(voices[front_end])
    text = "One thing. Two things."
    audio, words = timed(voice, text, sentence_silence=1.0, speed=1.3)
    native, native_words = timed(voice, text, sentence_silence=1.0, speed=1.3, native_rate=True)
    assert [w[0] for w in words] == ["One", "thing", "Two", "things"]
    assert [w[0] for w in native_words] == ["One", "thing", "Two", "things"]
    # The second asked for is a second at 48 kHz, and 22 050 samples at the voice's rate.
    (gap_at, gap), = [run for run in zero_runs(audio) if run[1] > 100]
    assert gap == 48000
    assert max(run[1] for run in zero_runs(native)) == RATE
    # The words lie inside the audio, in order, the silence between the sentences.
    for (_, start, end), (_, next_start, _) in zip(words, words[1:]):
        assert 0 <= start < end <= next_start
    assert words[1][2] <= gap_at and words[2][1] >= gap_at + gap
    assert words[-1][2] <= len(audio)
    # The same places at either rate: voice samples mapped as the resampler maps them.
    for (_, start, end), (_, native_start, native_end) in zip(words, native_words):
        assert abs(start - native_start * 48000 / RATE) <= 2
        assert abs(end - native_end * 48000 / RATE) <= 2


def test_text_of_nothing_the_voice_can_say_is_refused(voices, open_own):
    voice = open_own(voices["characters"])
    with pytest.raises(korva.KorvaError, match="No symbol of the text is in the voice's table"):
        voice.text_to_ids("123", normalize=False)
    with pytest.raises(korva.KorvaError, match="Nothing to speak: the text is empty"):
        voice.synthesize(" \n ")
    assert [u.phonemes for u in voice.text_to_ids("I paid $5.")] == ["i paid five dollars."]
