"""A voice loaded into the engine."""
import ctypes
import os
import threading
import weakref
from typing import NamedTuple

import numpy as np

from ._library import library
from ._types import OUTPUT_RATE, PRECISIONS, CVoiceInfo
from .audio import normalise_peak, write_wav
from .callbacks import Callbacks
from .errors import KorvaError, engine_error
from .options import native_options
from .stream import Stream



class UtteranceIds(NamedTuple):
    """One utterance of a text: the front-end's phonemes and the framed ids the
    model is fed."""
    phonemes: str
    ids: list


# The engine is process-wide: one loaded voice at a time.
_loading = threading.Lock()
_loaded = None  # weakref to the Voice holding the engine


class Voice:
    """The voice of a korva weights archive.

        with korva.Voice("voice.pt") as voice:
            audio = voice.synthesize("Hello.", speed=1.2)

    The engine holds one voice per process: loading a second while one is open
    raises KorvaError; close() (or the end of the with block) unloads it. The
    engine does one synthesis at a time: calls from several threads wait for each
    other, but any call while a stream of this voice is open raises KorvaError.

    Options of synthesize, stream and save_wav (None: the default):
      speed, length_scale, noise_scale, noise_scale_w: numbers (see korva.h)
      speaker: an id (int) or one of voice.speakers' names
      seed: >= 0 for repeatable audio
      native_rate: audio at voice.native_sample_rate instead of voice.sample_rate
      normalize, ssml, split_sentences: text handling flags
      sentence_silence: seconds between sentences
      on_timing: called with a korva.Timing per word and phoneme
    """

    def __init__(self, path, espeak_data=None):
        global _loaded
        self.path = os.fspath(path)
        self._lib = library()
        self._streams = weakref.WeakSet()
        self._open = False
        with _loading:
            current = _loaded() if _loaded is not None else None
            if current is not None and current._open:
                raise KorvaError(f"a voice is already loaded ({current.path!r}): the engine holds "
                                 "one voice per process; close() it first")
            data = os.fsencode(espeak_data) if espeak_data is not None else None
            if self._lib.korva_load(os.fsencode(self.path), data) != 0:
                raise engine_error(self._lib, f"cannot load the voice {self.path!r}")
            self._open = True
            _loaded = weakref.ref(self)
        info = CVoiceInfo()
        self._lib.korva_get_voice_info(ctypes.byref(info), ctypes.sizeof(info))
        self.sample_rate = OUTPUT_RATE
        self.native_sample_rate = info.sample_rate
        self.front_end = info.front_end.decode("utf-8")
        names = [self._lib.korva_speaker_name(i) for i in range(info.n_speakers)]
        self.speakers = [name.decode("utf-8") if name is not None else None for name in names]

    def synthesize(self, text, **options):
        """The audio of `text` as one numpy float32 array at voice.sample_rate (or
        native_sample_rate with native_rate=True), peak-normalised to 0.95 as
        korva_tts does."""
        self._check_idle()
        chunks = []
        self._synthesize(text, options, lambda chunk: chunks.append(chunk))
        audio = np.concatenate(chunks) if chunks else np.zeros(0, np.float32)
        return normalise_peak(audio)

    def stream(self, text, **options):
        """An iterator of float32 chunks of `text`'s audio, as they are decoded (on
        a thread of its own): the raw samples in [-1, 1], not peak-normalised.
        Leaving it early stops the synthesis."""
        self._check_idle()
        stream = Stream(lambda offer: self._synthesize(text, options, offer),
                        on_close=self._streams.discard)
        self._streams.add(stream)
        return stream

    def text_to_ids(self, text, **options):
        """`text` as the voice's front-end reads it with these options (those of
        synthesize; on_timing is not used), nothing synthesised: a list of
        korva.UtteranceIds (phonemes, ids), one per utterance, in the order they
        would be spoken."""
        self._check_idle()
        encoded = text.encode("utf-8")
        native = native_options(self._lib, options, Callbacks(), encoded)
        result = self._lib.korva_text_to_ids(encoded, ctypes.byref(native))
        if not result:
            raise engine_error(self._lib, "cannot read the text")
        try:
            return [UtteranceIds(u.phonemes.decode("utf-8"), list(u.ids[:u.n_ids]))
                    for u in result.contents.utterances[:result.contents.n_utterances]]
        finally:
            self._lib.korva_text_ids_free(result)

    def save_wav(self, text, path, **options):
        """Writes `text`'s audio (as synthesize gives it) to a 16-bit mono WAV file."""
        rate = self.native_sample_rate if options.get("native_rate") else self.sample_rate
        write_wav(path, self.synthesize(text, **options), rate)

    def set_precision(self, precision):
        """"fp32" (default) or "bf16" for the decoder, for this process's later
        syntheses; bf16 needs a CPU that runs it natively."""
        if precision not in PRECISIONS:
            raise ValueError(f"precision is one of {', '.join(PRECISIONS)}, not {precision!r}")
        self._check_idle()
        if self._lib.korva_set_precision(PRECISIONS[precision]) != 0:
            raise engine_error(self._lib, f"cannot use {precision}")

    @property
    def closed(self):
        return not self._open

    def close(self):
        """Stops any open stream and unloads the voice; later calls raise KorvaError."""
        global _loaded
        for stream in list(self._streams):
            stream.close()
        with _loading:
            if self._open:
                self._lib.korva_unload()
                self._open = False
                _loaded = None

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def __del__(self):
        if getattr(self, "_open", False):
            self.close()

    def __repr__(self):
        state = "" if self._open else ", closed"
        return f"korva.Voice({self.path!r}{state})"

    def _check_idle(self):
        if not self._open:
            raise KorvaError(f"the voice {self.path!r} is closed")
        if len(self._streams):
            raise KorvaError("the engine is busy with an open stream of this voice: "
                             "finish or close() it first")

    def _synthesize(self, text, options, on_chunk):
        """korva_synthesize of `text`, handing each chunk to on_chunk (true: stop)."""
        encoded = text.encode("utf-8")
        callbacks = Callbacks()
        native = native_options(self._lib, options, callbacks, encoded)
        status = self._lib.korva_synthesize(encoded, ctypes.byref(native),
                                            callbacks.audio(on_chunk), None)
        callbacks.raise_pending()
        if status != 0:
            raise engine_error(self._lib, "synthesis failed")
