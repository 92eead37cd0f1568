"""The exception of a failed engine call."""


class KorvaError(RuntimeError):
    """A korva call failed; the message carries the engine's reason."""


def engine_error(lib, what):
    """KorvaError for the call that just failed on this thread: `what`, then the
    engine's reason (korva_last_error is per thread, so ask on the failing one)."""
    reason = lib.korva_last_error().decode("utf-8", "replace")
    return KorvaError(f"{what}: {reason}" if reason else what)
