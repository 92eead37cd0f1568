#pragma once
// POST /v1/audio/speech: a WAV file once the whole text is spoken, or raw PCM
// streamed chunk by chunk as the engine decodes it.
//
// The handler waits for the engine's first chunk before it answers, so that a
// request the engine refuses still gets a status and a message; after that a
// stream that fails is broken off (no final chunk), and a client that goes away
// stops its synthesis.

#include "server-context.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

void answer_speech(ServerContext &context, const httplib::Request &request,
                   httplib::Response &response);
