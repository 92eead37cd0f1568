#pragma once
// Blocking reads and writes on a non-blocking socket, each bounded in time,
// so that a client that stops reading or writing holds a thread no longer
// than the limit.

#include <chrono>
#include <cstddef>
#include <string_view>
#include <sys/types.h>

// Sends all of `bytes`, waiting at most `limit` for the socket to take each
// piece; false when the peer is gone or took nothing for that long.
bool send_all(int fd, std::string_view bytes, std::chrono::milliseconds limit);

// Whether `fd` becomes readable (POLLIN) or writable (POLLOUT) within `limit`.
bool wait_for(int fd, short events, std::chrono::milliseconds limit);

// recv() of at most `size` bytes once the socket is readable within `limit`:
// the count, 0 at the peer's end, -1 on an error or when the limit passed.
ssize_t receive(int fd, char *out, size_t size, std::chrono::milliseconds limit);
