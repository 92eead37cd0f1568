#include "api/request.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

constexpr int kOutputRate = 48000;  // Hz, of every output but the native rate
constexpr float kDefaultLengthScale = 1.1f;
// Below this every token lasts one frame anyway; above it a word lasts minutes.
constexpr float kMinLengthScale = 0.01f;
constexpr float kMaxLengthScale = 100.0f;

bool finite_positive(float value) { return std::isfinite(value) && value > 0.0f; }

bool sensible_length_scale(float value) {
  return value >= kMinLengthScale && value <= kMaxLengthScale;  // false for NaN
}

// The caller's options over the defaults: fields beyond the caller's size keep them.
korva_options merged_options(const korva_options *given) {
  korva_options options = default_options();
  if (given && given->size >= sizeof(given->size)) {
    std::memcpy(&options, given, std::min(given->size, sizeof options));
  }
  options.size = sizeof options;
  return options;
}

std::optional<int> speaker_of(const korva_options &options, const VoiceFacts &voice,
                              std::string *error) {
  if (options.speaker_name) {
    const auto found = voice.speaker_ids.find(options.speaker_name);
    if (found != voice.speaker_ids.end()) return found->second;
    *error = "unknown speaker name '" + std::string(options.speaker_name) + "'" +
             (voice.speaker_ids.empty() ? ": the voice names no speakers" : "");
    return std::nullopt;
  }
  if (options.speaker < 0 || options.speaker >= voice.n_speakers) {
    *error = "speaker " + std::to_string(options.speaker) + " out of range: the voice has " +
             std::to_string(voice.n_speakers) +
             (voice.n_speakers == 1
                  ? " speaker (id 0)"
                  : " speakers (ids 0 to " + std::to_string(voice.n_speakers - 1) + ")");
    return std::nullopt;
  }
  return options.speaker;
}

}  // namespace

korva_options default_options() {
  korva_options options{};
  options.size = sizeof options;
  options.speed = 1.0f;
  options.length_scale = 0.0f;
  options.noise_scale = -1.0f;
  options.noise_scale_w = -1.0f;
  options.speaker = 0;
  options.speaker_name = nullptr;
  options.seed = KORVA_SEED_NEXT;
  options.native_rate = 0;
  options.normalize = 1;
  options.ssml = 0;
  options.split_sentences = 1;
  options.sentence_silence = -1.0f;
  options.on_timing = nullptr;
  options.timing_user = nullptr;
  return options;
}

std::optional<Request> legacy_request(float speed, const VoiceFacts &voice, std::string *error) {
  Request request;
  request.length_scale = (speed > 0.0f ? 1.0f / speed : kDefaultLengthScale) * voice.length_scale;
  if (!finite_positive(request.length_scale)) {
    *error = "speed " + std::to_string(speed) + " gives a length scale of " +
             std::to_string(request.length_scale) + ": no speech can be made of it";
    return std::nullopt;
  }
  request.noise_scale = voice.noise_scale;
  request.noise_scale_w = voice.noise_scale_w;
  request.sentence_silence = voice.sentence_silence;
  request.voice_rate = voice.sample_rate;
  return request;
}

std::optional<Request> request_from_options(const korva_options *given, const VoiceFacts &voice,
                                            std::string *error) {
  const korva_options options = merged_options(given);
  Request request;
  if (options.length_scale != 0.0f) {
    if (!sensible_length_scale(options.length_scale)) {
      *error = "length_scale must be 0.01 to 100, or 0 to follow speed";
      return std::nullopt;
    }
    request.length_scale = options.length_scale;
  } else {
    // A tiny speed would ask for hours of audio per word; an infinite one for none.
    if (!finite_positive(options.speed) ||
        !sensible_length_scale(voice.length_scale / options.speed)) {
      *error = "speed must be a positive number from " +
               std::to_string(voice.length_scale / kMaxLengthScale) + " to " +
               std::to_string(voice.length_scale / kMinLengthScale) + " for this voice";
      return std::nullopt;
    }
    request.length_scale = voice.length_scale / options.speed;
  }
  if (std::isnan(options.noise_scale) || std::isnan(options.noise_scale_w) ||
      std::isinf(options.noise_scale) || std::isinf(options.noise_scale_w)) {
    *error = "noise scales must be finite (negative: the voice's own)";
    return std::nullopt;
  }
  request.noise_scale = options.noise_scale < 0.0f ? voice.noise_scale : options.noise_scale;
  request.noise_scale_w =
      options.noise_scale_w < 0.0f ? voice.noise_scale_w : options.noise_scale_w;
  const auto speaker = speaker_of(options, voice, error);
  if (!speaker) return std::nullopt;
  request.speaker = *speaker;
  if (options.seed < KORVA_SEED_NEXT || options.seed > INT32_MAX) {
    *error = "seed must be 0 to 2147483647, or KORVA_SEED_NEXT";
    return std::nullopt;
  }
  if (options.seed >= 0) request.seed = options.seed;
  if (!std::isfinite(options.sentence_silence) || options.sentence_silence > 60.0f) {
    *error = "sentence_silence must be 0 to 60 seconds (negative: the voice's own)";
    return std::nullopt;
  }
  request.native_rate = options.native_rate != 0;
  request.normalize = options.normalize != 0;
  request.ssml = options.ssml != 0;
  request.split_sentences = options.split_sentences != 0;
  request.sentence_silence =
      options.sentence_silence < 0.0f ? voice.sentence_silence : options.sentence_silence;
  request.on_timing = options.on_timing;
  request.timing_user = options.timing_user;
  request.voice_rate = voice.sample_rate;
  request.output_rate = request.native_rate ? voice.sample_rate : kOutputRate;
  return request;
}

bool reads_whole_text(const Request &request) {
  return !request.split_sentences && !request.normalize && !request.ssml && !request.on_timing;
}
