#pragma once
// Failures as the HTTP answer's body: {"error": {"message": ..., "type": ...}},
// the shape OpenAI-style clients read.

#include <string>

namespace httplib {
struct Response;
}  // namespace httplib

// Sets `status` and the error body; 503 answers also say when to try again.
void send_error(httplib::Response &response, int status, const std::string &message);
