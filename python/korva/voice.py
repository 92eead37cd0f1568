"""A voice of the engine, as a handle of its own."""
import collections
import contextlib
import ctypes
import os
import threading
import weakref
from typing import NamedTuple

import numpy as np

from ._library import library
from ._types import OUTPUT_RATE, PRECISIONS, CVoiceConfig, CVoiceInfo
from .audio import normalise_peak, write_wav
from .callbacks import Callbacks
from .errors import KorvaError, engine_error
from .options import encoded_text, native_options
from .stream import Stream


class UtteranceIds(NamedTuple):
    """One utterance of a text: the front-end's phonemes and the framed ids the
    model is fed."""
    phonemes: str
    ids: list



class Voice:
    """The voice of a korva weights archive.

        with korva.Voice("voice.pt") as voice:
            audio = voice.synthesize("Hello.", speed=1.2)

    Any number of voices may be open at once, and each may be used from several
    threads: their syntheses run in parallel. close() (or the end of the with
    block) stops the voice's open streams, waits for its running syntheses and
    releases it.

    espeak_data: espeak-ng's data directory (None: its default, or the one the
        open voices use; a process has one). threads: the threads of each
        synthesis (0: the cores, shared among the syntheses running). precision:
        "fp32" or "bf16".

    voice.text_to_ids(text) shows the phonemes and ids the voice's front-end
    makes of a text, with the same options.

    Options of synthesize, stream, save_wav and text_to_ids (None: the default):
      speed, length_scale, noise_scale, noise_scale_w: numbers (see korva.h)
      speaker: an id (int) or one of voice.speakers' names
      seed: >= 0 for repeatable audio, the same whatever runs beside it
      native_rate: audio at voice.native_sample_rate instead of voice.sample_rate
      normalize, ssml, split_sentences: text handling flags
      sentence_silence: seconds between sentences
      on_timing: called with a korva.Timing per word and phoneme
    """

    def __init__(self, path, espeak_data=None, threads=0, precision="fp32"):
        self.path = os.fspath(path)
        self._lib = library()
        self._streams = weakref.WeakSet()
        self._handle = None
        self._running = 0  # syntheses inside the library now
        self._callers = collections.Counter()  # their threads
        self._state = threading.Condition()
        if precision not in PRECISIONS:
            raise ValueError(f"precision is one of {', '.join(PRECISIONS)}, not {precision!r}")
        config = CVoiceConfig()
        self._lib.korva_voice_config_default(ctypes.byref(config), ctypes.sizeof(config))
        self._espeak_data = os.fsencode(espeak_data) if espeak_data is not None else None
        config.espeak_data = self._espeak_data
        config.intra_op_threads = int(threads)
        config.precision = PRECISIONS[precision]
        handle = self._lib.korva_voice_open(os.fsencode(self.path), ctypes.byref(config))
        if not handle:
            raise engine_error(self._lib, f"cannot load the voice {self.path!r}")
        self._handle = handle
        info = CVoiceInfo()
        self._lib.korva_voice_get_info(handle, ctypes.byref(info), ctypes.sizeof(info))
        self.sample_rate = OUTPUT_RATE
        self.native_sample_rate = info.sample_rate
        self.front_end = info.front_end.decode("utf-8")
        names = [self._lib.korva_voice_speaker_name(handle, i) for i in range(info.n_speakers)]
        self.speakers = [name.decode("utf-8") if name is not None else None for name in names]

    def synthesize(self, text, **options):
        """The audio of `text` as one numpy float32 array at voice.sample_rate (or
        native_sample_rate with native_rate=True), peak-normalised to 0.95 as
        korva_tts does."""
        chunks = []
        self._synthesize(text, options, lambda chunk: chunks.append(chunk))
        audio = np.concatenate(chunks) if chunks else np.zeros(0, np.float32)
        return normalise_peak(audio)

    def stream(self, text, **options):
        """An iterator of float32 chunks of `text`'s audio, as they are decoded (on
        a thread of its own): the raw samples in [-1, 1], not peak-normalised.
        Leaving it early stops the synthesis."""
        self._check_open()
        stream = Stream(lambda offer: self._synthesize(text, options, offer),
                        on_close=self._streams.discard)
        self._streams.add(stream)
        return stream

    def text_to_ids(self, text, **options):
        """`text` as the voice's front-end reads it with these options (those of
        synthesize; on_timing is not used), nothing synthesised: a list of
        korva.UtteranceIds (phonemes, ids), one per utterance, in the order they
        would be spoken."""
        encoded = encoded_text(text)
        native = native_options(self._lib, options, Callbacks(), encoded)
        with self._inside():
            result = self._lib.korva_voice_text_to_ids(self._handle, encoded, ctypes.byref(native))
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
        """"fp32" (default) or "bf16" for this voice's decoder, once its running
        syntheses are done; bf16 needs a CPU that runs it natively."""
        if precision not in PRECISIONS:
            raise ValueError(f"precision is one of {', '.join(PRECISIONS)}, not {precision!r}")
        with self._inside():
            if self._lib.korva_voice_set_precision(self._handle, PRECISIONS[precision]) != 0:
                raise engine_error(self._lib, f"cannot use {precision}")

    @property
    def closed(self):
        return self._handle is None

    def close(self):
        """Stops the open streams, waits for the running syntheses and releases
        the voice; later calls raise KorvaError. Refused (KorvaError) from inside
        one of the voice's own callbacks, whose synthesis it would wait for."""
        with self._state:
            if self._callers[threading.get_ident()]:
                raise KorvaError(f"cannot close the voice {self.path!r} from inside one of its own "
                                 "callbacks: its synthesis is still running")
        for stream in list(self._streams):
            stream.close()
        with self._state:
            handle, self._handle = self._handle, None
            while self._running:
                self._state.wait()
        if handle:
            self._lib.korva_voice_close(handle)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def __del__(self):
        if getattr(self, "_handle", None):
            self.close()

    def __repr__(self):
        state = "" if self._handle else ", closed"
        return f"korva.Voice({self.path!r}{state})"

    def _check_open(self):
        if self._handle is None:
            raise KorvaError(f"the voice {self.path!r} is closed")

    @contextlib.contextmanager
    def _inside(self):
        """One call into the library with this voice's handle, which close() waits for."""
        with self._state:
            self._check_open()
            self._running += 1
            self._callers[threading.get_ident()] += 1
        try:
            yield
        finally:
            with self._state:
                self._running -= 1
                self._callers[threading.get_ident()] -= 1
                self._state.notify_all()

    def _synthesize(self, text, options, on_chunk):
        """korva_voice_synthesize of `text`, handing each chunk to on_chunk (true: stop)."""
        encoded = encoded_text(text)
        callbacks = Callbacks()
        native = native_options(self._lib, options, callbacks, encoded)
        with self._inside():
            status = self._lib.korva_voice_synthesize(self._handle, encoded, ctypes.byref(native),
                                                      callbacks.audio(on_chunk), None)
        callbacks.raise_pending()
        if status != 0:
            raise engine_error(self._lib, "synthesis failed")
