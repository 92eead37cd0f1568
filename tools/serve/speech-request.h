#pragma once
// The body of POST /v1/audio/speech as korva_synthesize's arguments.
//
// The OpenAI-style fields: "input" (required), "model" (accepted, unused: the
// server has one voice), "voice" (a speaker's name where the voice names its
// speakers; any other name, such as "alloy", is speaker 0), "response_format"
// ("wav", the default, or "pcm"), "speed" (0.25 to 4). korva's own: "speaker"
// (id or name, over "voice"), "seed", "noise_scale", "noise_scale_w",
// "length_scale", "normalize", "ssml", "sentence_silence". Unknown fields are
// ignored, as OpenAI-style clients send more than a server may use.

#include <cstddef>
#include <stdexcept>
#include <string>

#include "korva.h"
#include "voice-card.h"

enum class AudioFormat { kWav, kPcm };

struct SpeechRequest {
  std::string input;
  AudioFormat format = AudioFormat::kWav;
  korva_options options;  // speaker_name stays NULL: names are resolved to ids here
};

// A request the server refuses before it reaches the engine: `status` is 400 or 413.
struct BadRequest : std::runtime_error {
  BadRequest(int status, const std::string &message)
      : std::runtime_error(message), status(status) {}
  int status;
};

// Parses and checks `body`; throws BadRequest naming the first field at fault.
SpeechRequest parse_speech_request(const std::string &body, const VoiceCard &voice,
                                   size_t max_input);
