"""The voice the tests speak with: $KORVA_TEST_VOICE, loaded once and again only
after a test closed it (the engine holds one voice per process)."""
import os

import pytest

import korva

_current = {}


@pytest.fixture
def voice():
    path = os.environ.get("KORVA_TEST_VOICE", "")
    if not os.path.exists(path):
        pytest.skip(f"no voice at {path!r} (KORVA_TEST_VOICE): build it with tools/voice/korva-voice")
    if _current.get("voice") is None or _current["voice"].closed:
        _current["voice"] = korva.Voice(path)
    return _current["voice"]


@pytest.fixture
def voice_path(voice):
    return voice.path


@pytest.fixture
def open_own():
    """Opens voices of the test's own, closing the shared one first (the engine
    holds one voice at a time) and the test's own at its end."""
    opened = []

    def open_voice(path):
        if _current.get("voice") is not None:
            _current["voice"].close()
        opened.append(korva.Voice(path))
        return opened[-1]

    yield open_voice
    for voice in opened:
        voice.close()
