#pragma once
// Failures as the HTTP answer's body: {"error": {"message": ..., "type": ...}},
// the shape OpenAI-style clients read.

#include <string>

namespace httplib {
struct Response;
}  // namespace httplib

// Sets `status` and the error body; 503 answers also say when to try again.
void send_error(httplib::Response &response, int status, const std::string &message);

// A whole HTTP/1.1 answer with the error body and "Connection: close", for
// refusals sent before any request is read (400, 408, 411, 413, 431, 503).
std::string closing_error_answer(int status, const std::string &message);
