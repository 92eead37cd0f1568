#include "speech-request.h"

#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

[[noreturn]] void refuse(const std::string &message) { throw BadRequest(400, message); }

// Field `name` of `body` when present and not null.
const json *field(const json &body, const char *name) {
  const auto found = body.find(name);
  return found == body.end() || found->is_null() ? nullptr : &*found;
}

const std::string &text_field(const json &value, const char *name) {
  if (!value.is_string()) refuse(std::string("\"") + name + "\" must be a string");
  return value.get_ref<const std::string &>();
}

// A number in [low, high]; `low_open` excludes low itself.
float number_field(const json &value, const char *name, double low, double high,
                   bool low_open = false) {
  const double number = value.is_number() ? value.get<double>() : NAN;
  if (!std::isfinite(number) || number < low || (low_open && number == low) || number > high) {
    refuse(std::string("\"") + name + "\" must be a number from " + json(low).dump() +
           (low_open ? " (excluded)" : "") + " to " + json(high).dump());
  }
  return static_cast<float>(number);
}

int flag_field(const json &value, const char *name) {
  if (!value.is_boolean()) refuse(std::string("\"") + name + "\" must be true or false");
  return value.get<bool>() ? 1 : 0;
}

AudioFormat format_of(const std::string &name) {
  if (name == "wav") return AudioFormat::kWav;
  if (name == "pcm") return AudioFormat::kPcm;
  refuse("\"response_format\" must be \"wav\" or \"pcm\", got \"" + name + "\"");
}

// "speaker": an id of the voice, or one of its names.
int speaker_of(const json &value, const VoiceCard &voice) {
  if (value.is_string()) {
    const std::string &name = value.get_ref<const std::string &>();
    if (const auto id = voice.speaker_named(name)) return *id;
    refuse("\"speaker\": the voice has no speaker named \"" + name + "\"");
  }
  if (!value.is_number_integer() || value.get<int64_t>() < 0 ||
      value.get<int64_t>() >= voice.n_speakers()) {
    refuse("\"speaker\" must be a name of the voice's or an id from 0 to " +
           std::to_string(voice.n_speakers() - 1));
  }
  return value.get<int>();
}

// "voice": a voice of the server's, or a speaker of its first voice (as
// clients that know one voice of many speakers give it).
size_t voice_of(const std::string &name, const VoiceShelf &shelf, korva_options &options) {
  if (const auto found = shelf.find(name)) return *found;
  if (const auto speaker = shelf.voices().front().speaker_named(name)) {
    options.speaker = *speaker;
    return 0;
  }
  refuse("\"voice\": this server has no voice called \"" + name + "\"; its voices are " +
         shelf.names());
}

json parsed_object(const std::string &body) {
  json parsed = json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) refuse("the body is not valid JSON");
  if (!parsed.is_object()) refuse("the body must be a JSON object");
  return parsed;
}

void read_korva_fields(const json &body, const VoiceCard &voice, korva_options &options) {
  if (const json *value = field(body, "speaker")) options.speaker = speaker_of(*value, voice);
  if (const json *value = field(body, "seed")) {
    if (!value->is_number_integer() || value->get<int64_t>() < 0 ||
        value->get<int64_t>() > INT32_MAX) {
      refuse("\"seed\" must be a whole number from 0 to 2147483647");
    }
    options.seed = value->get<int64_t>();
  }
  if (const json *value = field(body, "noise_scale")) {
    options.noise_scale = number_field(*value, "noise_scale", 0, 10);
  }
  if (const json *value = field(body, "noise_scale_w")) {
    options.noise_scale_w = number_field(*value, "noise_scale_w", 0, 10);
  }
  // The bounds keep one request's audio within reach of --max-input.
  if (const json *value = field(body, "length_scale")) {
    options.length_scale = number_field(*value, "length_scale", 0, 10, /*low_open=*/true);
  }
  if (const json *value = field(body, "sentence_silence")) {
    options.sentence_silence = number_field(*value, "sentence_silence", 0, 10);
  }
  if (const json *value = field(body, "normalize")) {
    options.normalize = flag_field(*value, "normalize");
  }
  if (const json *value = field(body, "ssml")) options.ssml = flag_field(*value, "ssml");
}

}  // namespace

void check_speech_text(const std::string &text, const char *name, size_t max_input) {
  if (text.size() > max_input) {
    throw BadRequest(413, std::string("\"") + name + "\" is " + std::to_string(text.size()) +
                              " bytes; this server takes at most " + std::to_string(max_input));
  }
  if (text.find('\0') != std::string::npos) {
    refuse(std::string("\"") + name + "\" contains a NUL character");
  }
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    refuse(std::string("\"") + name + "\" is empty: there is nothing to speak");
  }
}

SpeechRequest parse_speech_request(const std::string &body, const VoiceShelf &shelf,
                                   size_t max_input) {
  const json parsed = parsed_object(body);
  SpeechRequest request;
  korva_options_default(&request.options, sizeof request.options);

  const json *input = field(parsed, "input");
  if (!input) refuse("\"input\" is missing: the text to speak");
  request.input = text_field(*input, "input");
  check_speech_text(request.input, "input", max_input);
  if (const json *model = field(parsed, "model")) text_field(*model, "model");
  if (const json *format = field(parsed, "response_format")) {
    request.format = format_of(text_field(*format, "response_format"));
  }
  if (const json *speed = field(parsed, "speed")) {
    request.options.speed = number_field(*speed, "speed", 0.25, 4);
  }
  if (const json *name = field(parsed, "voice")) {
    request.voice = voice_of(text_field(*name, "voice"), shelf, request.options);
  }
  read_korva_fields(parsed, shelf.voices().at(request.voice), request.options);
  return request;
}
