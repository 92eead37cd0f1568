"""One synthesis on a thread of its own, its chunks handed to the consumer
through a bounded queue."""
import queue
import threading

_DONE = object()


class _Handoff:
    """What the synthesis thread shares with the consumer. The thread holds only
    this, not the Stream, so that an abandoned Stream is collected and closed."""

    def __init__(self, depth):
        self.chunks = queue.Queue(maxsize=depth)
        self.stop = threading.Event()
        self.error = None

    def offer(self, chunk):
        """The synthesis's per-chunk function: waits while the queue is full;
        true (stop the synthesis) once the consumer has gone."""
        if self.stop.is_set():
            return True
        self.chunks.put(chunk)
        return self.stop.is_set()

    def run(self, synthesize):
        try:
            synthesize(self.offer)
        except BaseException as error:  # handed to the consumer, raised there
            self.error = error
        finally:
            self.chunks.put(_DONE)


class Stream:
    """Iterator over the float32 chunks of one synthesis, as they are decoded.

    Closing it (close(), the end of a with block, leaving a for loop early, or
    its collection) stops the synthesis at its next chunk and waits for it."""

    def __init__(self, synthesize, on_close, depth=8):
        self._handoff = _Handoff(depth)
        self._on_close = on_close
        self._closed = False
        self._finishing = threading.Lock()
        self._finished = False
        self._thread = threading.Thread(target=self._handoff.run, args=(synthesize,),
                                        name="korva-stream", daemon=True)
        self._thread.start()

    def __iter__(self):
        return self

    def __next__(self):
        if self._closed:
            raise StopIteration
        chunk = self._handoff.chunks.get()
        if chunk is _DONE:
            stopped = self._closed  # by close() on another thread: no error of its own
            self._finish()
            if self._handoff.error is not None and not stopped:
                raise self._handoff.error
            raise StopIteration
        return chunk

    def close(self):
        if self._closed:
            return
        self._closed = True
        self._handoff.stop.set()
        # The synthesis may wait on a full queue: take chunks until it has ended.
        # A consumer on another thread may take some, the end marker too...
        while self._thread.is_alive():
            try:
                self._handoff.chunks.get(timeout=0.05)
            except queue.Empty:
                pass
        try:  # ...so another wakes it if it waits on the queue emptied here
            self._handoff.chunks.put_nowait(_DONE)
        except queue.Full:
            pass
        self._finish()

    def _finish(self):
        with self._finishing:
            if self._finished:
                return
            self._finished = True
        self._closed = True
        self._thread.join()
        self._on_close(self)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def __del__(self):
        if hasattr(self, "_thread"):
            self.close()
