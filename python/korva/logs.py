"""How much the library writes on standard error."""
from ._library import library
from ._types import LOG_LEVELS
from .errors import engine_error


def set_log_level(level):
    """"off", "error", "warning" (the package's default) or "info" (everything the
    library logs: progress and each request's statistics), for the whole process."""
    if level not in LOG_LEVELS:
        raise ValueError(f"log level is one of {', '.join(LOG_LEVELS)}, not {level!r}")
    lib = library()
    if lib.korva_set_log_level(LOG_LEVELS[level]) != 0:
        raise engine_error(lib, f"cannot set the log level {level!r}")
