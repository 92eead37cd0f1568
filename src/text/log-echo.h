#pragma once
// A caller's text as it may appear in a log line: whatever the bytes, the line
// stays one printable line of bounded length.

#include <cstddef>
#include <string>

// `text` with control bytes and bytes that are not valid UTF-8 written as
// \xNN, cut after `max_bytes` bytes of `text` with " ... (N bytes)" naming
// its whole length. "(null)" for nullptr.
std::string log_echo(const char *text, size_t max_bytes = 400);
