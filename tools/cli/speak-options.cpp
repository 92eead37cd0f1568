#include "speak-options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "cli-error.h"

namespace {

// A finite number; above zero when `positive`, else zero or above.
float parse_number(const std::string &option, const std::string &text, bool positive) {
  const char *begin = text.c_str();
  char *end = nullptr;
  errno = 0;
  const float value = std::strtof(begin, &end);
  if (end == begin || *end != '\0' || errno == ERANGE || !std::isfinite(value) ||
      (positive ? value <= 0.0f : value < 0.0f)) {
    throw UsageError("--" + option + " needs " + (positive ? "a positive" : "a non-negative") +
                     " number, got '" + text + "'");
  }
  return value;
}

// A whole number in [0, max]; false when `text` is not one.
bool parse_count(const std::string &text, long long max, long long &out) {
  if (text.empty() || text.size() > 19) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  out = std::strtoll(text.c_str(), nullptr, 10);
  return out <= max;
}

}  // namespace

std::vector<int32_t> parse_ids(const std::string &text) {
  std::vector<int32_t> ids;
  size_t begin = 0;
  for (;;) {
    const size_t comma = text.find(',', begin);
    const std::string item = text.substr(begin, comma == std::string::npos ? comma : comma - begin);
    long long id = 0;
    if (!parse_count(item, std::numeric_limits<int32_t>::max(), id))
      throw UsageError("--ids needs token ids separated by commas (0,12,0,...), got '" + item +
                       "'");
    ids.push_back(static_cast<int32_t>(id));
    if (comma == std::string::npos) return ids;
    begin = comma + 1;
  }
}

korva_options speak_request(const ParsedArgs &args) {
  korva_options options;
  korva_options_default(&options, sizeof options);
  if (const auto speed = args.value("speed")) options.speed = parse_number("speed", *speed, true);
  if (const auto scale = args.value("length-scale"))
    options.length_scale = parse_number("length-scale", *scale, true);
  if (const auto scale = args.value("noise-scale"))
    options.noise_scale = parse_number("noise-scale", *scale, false);
  if (const auto scale = args.value("noise-scale-w"))
    options.noise_scale_w = parse_number("noise-scale-w", *scale, false);
  if (const auto seed = args.value("seed")) {
    long long value = 0;
    if (!parse_count(*seed, std::numeric_limits<int32_t>::max(), value))
      throw UsageError("--seed needs a whole number from 0 to 2147483647, got '" + *seed + "'");
    options.seed = value;
  }
  if (args.value("speaker")) {
    const std::string &speaker = args.options.at("speaker");
    long long id = 0;
    if (parse_count(speaker, std::numeric_limits<int>::max(), id)) {
      options.speaker = static_cast<int>(id);
    } else if (!speaker.empty()) {
      options.speaker_name = speaker.c_str();
    } else {
      throw UsageError("--speaker needs a speaker id or name");
    }
  }
  if (const auto rate = args.value("rate")) {
    if (*rate != "48000" && *rate != "native")
      throw UsageError("--rate is 48000 or native, got '" + *rate + "'");
    options.native_rate = *rate == "native";
  }
  return options;
}

SpeakFormat speak_format(const ParsedArgs &args) {
  const auto format = args.value("format");
  if (!format || *format == "wav") return SpeakFormat::kWav;
  if (*format == "f32") return SpeakFormat::kF32;
  throw UsageError("--format is wav or f32, got '" + *format + "'");
}
