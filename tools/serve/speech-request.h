#pragma once
// The body of POST /v1/audio/speech as korva_synthesize's arguments.
//
// The OpenAI-style fields: "input" (required, not empty), "model" (accepted,
// unused), "voice" (the name of one of the server's voices, or of a speaker of
// its first voice; without it, the first voice), "response_format" ("wav", the
// default, or "pcm"), "speed" (0.25 to 4). korva's own: "speaker" (id or name
// of the chosen voice's, over a speaker given as "voice"), "seed",
// "noise_scale", "noise_scale_w", "length_scale", "normalize", "ssml",
// "sentence_silence". Unknown fields are ignored, as OpenAI-style clients send
// more than a server may use.

#include <cstddef>
#include <stdexcept>
#include <string>

#include "korva.h"
#include "voice-shelf.h"

enum class AudioFormat { kWav, kPcm };

struct SpeechRequest {
  size_t voice = 0;  // number on the shelf
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
SpeechRequest parse_speech_request(const std::string &body, const VoiceShelf &shelf,
                                   size_t max_input);

// A text to speak, field `name` of a request: refused when empty (or only
// white space), with a NUL, or over `max_input` bytes (413).
void check_speech_text(const std::string &text, const char *name, size_t max_input);
