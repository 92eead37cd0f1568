#pragma once
// The answers that never wait for a synthesis: GET /v1/voices, /health, /metrics.

#include "server-context.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

// {"default": NAME, "voices": [...]}: every voice with its rate, front-end and speakers.
void answer_voices(ServerContext &context, httplib::Response &response);
// 200 {"status": "ready"}; 503 while the voices load or the server stops, so
// that a load balancer sends the requests elsewhere.
void answer_health(ServerContext &context, httplib::Response &response);
void answer_metrics(ServerContext &context, httplib::Response &response);
