"""Python functions as the C callbacks of one engine call.

An exception cannot cross the C library: the callback catches it, returns
non-zero (which stops the synthesis) and raise_pending() raises it again once
the call has returned."""
import numpy as np

from ._types import AudioCallback, TimingCallback
from .timing import Timing


class Callbacks:
    def __init__(self):
        self._error = None

    def _guarded(self, function):
        def call(*args):
            if self._error is not None:
                return 1
            try:
                return 1 if function(*args) else 0
            except BaseException as error:  # KeyboardInterrupt too: raised again after the call
                self._error = error
                return 1
        return call

    def audio(self, on_chunk):
        """korva_audio_cb calling on_chunk(float32 array, a copy); a true result stops."""
        def call(samples, count, _user):
            chunk = np.ctypeslib.as_array(samples, (count,)).copy() if count > 0 else np.zeros(0, np.float32)
            return on_chunk(chunk)
        return AudioCallback(self._guarded(call))

    def timing(self, on_timing, encoded_text):
        """korva_timing_cb calling on_timing(Timing); a true result stops."""
        def call(timing, _user):
            return on_timing(Timing.from_c(timing.contents, encoded_text))
        return TimingCallback(self._guarded(call))

    def raise_pending(self):
        if self._error is not None:
            error, self._error = self._error, None
            raise error
