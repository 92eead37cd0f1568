#pragma once
// Serialises the exported functions: the engine, espeak-ng, the seed counter
// and the random generator are process-wide.

#include <mutex>

std::mutex &engine_mutex();

// Formats into at most 2047 bytes and writes "[korva] ERROR: <text>" to stderr.
void record_error(const char *format, ...) __attribute__((format(printf, 1, 2)));
