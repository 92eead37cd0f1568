#pragma once
// One line per answered request on standard error, written when the answer
// is complete:
//   127.0.0.1:40112 "POST /v1/audio/speech" 200 96044 bytes 0.412 s
// and " (stream broken off)" when a streamed answer did not reach its end.
// The notes are per thread: the HTTP library answers a request on one thread,
// streamed body included.

#include <cstddef>

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

// When the request arrived (before routing).
void note_request_start();
// Bytes of a streamed body as they are sent.
void note_streamed(size_t bytes);

// Whether `response` had a streamed body that did not reach its end (the
// client went away, or the synthesis failed on the way).
bool broken_off(const httplib::Response &response);

void write_access_line(const httplib::Request &request, const httplib::Response &response);
