#pragma once
// One request's synthesis handed to the pool, HTTP's and Wyoming's alike: the
// audio comes through the channel returned, within the server's limits.

#include <memory>
#include <string>

#include "audio-channel.h"
#include "korva.h"
#include "server-context.h"
#include "synthesis-pool.h"

struct StartedSpeech {
  Admission admission;
  std::shared_ptr<AudioChannel> channel;  // kQueued only
};

StartedSpeech start_speech(ServerContext &context, size_t voice, std::string text,
                           const korva_options &options);

// Why a request was not queued, for the 503 answer.
const char *refusal_reason(Admission admission);
