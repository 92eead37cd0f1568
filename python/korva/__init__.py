"""korva: English text-to-speech, through libkorva's C interface.

    import korva
    voice = korva.Voice("voice.pt")
    audio = voice.synthesize("Hello, world!")   # numpy float32 at voice.sample_rate
    for chunk in voice.stream("A longer text, spoken as it is decoded."):
        ...
    voice.save_wav("Goodbye.", "bye.wav")
    voice.text_to_ids("Hello.")                  # [UtteranceIds(phonemes, ids)] the model is fed
"""
from ._library import library_path
from .errors import KorvaError
from .stream import Stream
from .timing import Timing
from .voice import UtteranceIds, Voice

__all__ = ["KorvaError", "Stream", "Timing", "UtteranceIds", "Voice", "library_path"]
