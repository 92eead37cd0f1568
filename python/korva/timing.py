"""Where a word or a phoneme of a request lies in its audio."""
from dataclasses import dataclass

from ._types import TIMING_KINDS


@dataclass(frozen=True)
class Timing:
    """One span from the on_timing callback. Offsets count characters of the
    request's text (a phoneme: those of its word); samples count from the
    request's start, at the rate of its audio, end excluded."""

    kind: str  # "word" or "phoneme"
    text: str  # the word as written, or the phoneme
    text_offset: int
    text_length: int
    start_sample: int
    end_sample: int

    @classmethod
    def from_c(cls, timing, encoded_text):
        """A korva_timing, whose offsets count bytes of `encoded_text` (UTF-8)."""
        start = timing.text_offset
        end = start + timing.text_length
        return cls(
            kind=TIMING_KINDS.get(timing.kind, str(timing.kind)),
            text=(timing.text or b"").decode("utf-8", "replace"),
            text_offset=_characters(encoded_text[:start]),
            text_length=_characters(encoded_text[start:end]),
            start_sample=timing.start_sample,
            end_sample=timing.end_sample,
        )


def _characters(utf8):
    return len(utf8.decode("utf-8", "ignore"))
