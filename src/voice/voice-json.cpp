#include "voice/voice-json.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <limits>

#include "voice/voice-checks.h"

namespace {

using nlohmann::json;

constexpr int32_t kMaxChannels = 8192;
constexpr int32_t kMaxKernel = 63;

std::string number_text(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", x);
  return text;
}

std::string range_text(int64_t lo, int64_t hi) {
  return "must be an integer from " + std::to_string(lo) + " to " + std::to_string(hi);
}

int32_t integer_at(const json &value, const std::string &field, int64_t lo, int64_t hi) {
  if (!value.is_number_integer()) refuse_field(field, range_text(lo, hi));
  const auto n = value.get<int64_t>();
  if (n < lo || n > hi) refuse_field(field, range_text(lo, hi) + ", got " + std::to_string(n));
  return static_cast<int32_t>(n);
}

std::vector<int32_t> integers_at(const json &value, const std::string &field, int64_t lo,
                                 int64_t hi, size_t max_count) {
  if (!value.is_array() || value.empty() || value.size() > max_count)
    refuse_field(field, "must be an array of 1 to " + std::to_string(max_count) + " integers");
  std::vector<int32_t> out;
  for (size_t i = 0; i < value.size(); ++i)
    out.push_back(integer_at(value[i], field + "[" + std::to_string(i) + "]", lo, hi));
  return out;
}

float number_at(const json &value, const std::string &field, double lo, double hi, bool above_lo) {
  const std::string expect = "must be a number " + std::string(above_lo ? "above " : "from ") +
                             number_text(lo) + " to " + number_text(hi);
  if (!value.is_number()) refuse_field(field, expect);
  const double x = value.get<double>();
  if (!std::isfinite(x) || x < lo || x > hi || (above_lo && x == lo)) refuse_field(field, expect);
  return static_cast<float>(x);
}

// One JSON object of the description: its keys are checked against the known
// ones, and each reader names the field by its full path.
class Section {
 public:
  Section(const json &object, std::string path, std::initializer_list<const char *> known)
      : object_(object), path_(std::move(path)) {
    if (!object.is_object()) refuse_field(path_.empty() ? "(top level)" : path_, "must be an object");
    for (const auto &item : object.items()) {
      bool found = false;
      for (const char *key : known) found = found || item.key() == key;
      if (!found) refuse_field(field(item.key()), "unknown key");
    }
  }

  std::string field(const std::string &key) const { return path_.empty() ? key : path_ + "." + key; }
  const json *find(const char *key) const {
    const auto found = object_.find(key);
    return found == object_.end() ? nullptr : &*found;
  }

  void integer(const char *key, int32_t &out, int64_t lo, int64_t hi) const {
    if (const json *value = find(key)) out = integer_at(*value, field(key), lo, hi);
  }
  void integers(const char *key, std::vector<int32_t> &out, int64_t lo, int64_t hi,
                size_t max_count) const {
    if (const json *value = find(key)) out = integers_at(*value, field(key), lo, hi, max_count);
  }
  // A finite number in [lo, hi]; `above_lo` excludes lo itself.
  void number(const char *key, float &out, double lo, double hi, bool above_lo = false) const {
    if (const json *value = find(key)) out = number_at(*value, field(key), lo, hi, above_lo);
  }
  std::string text(const char *key, std::initializer_list<const char *> allowed) const {
    const json *value = find(key);
    if (!value) return "";
    std::string choices;
    for (const char *a : allowed) {
      if (value->is_string() && value->get<std::string>() == a) return a;
      choices += std::string(choices.empty() ? "" : ", ") + "\"" + a + "\"";
    }
    refuse_field(field(key), "must be one of " + choices);
  }

 private:
  const json &object_;
  std::string path_;
};

void read_text_encoder(const Section &s, TextEncoderSizes &e) {
  s.integer("inter_channels", e.inter_channels, 2, kMaxChannels);
  s.integer("hidden_channels", e.hidden_channels, 1, kMaxChannels);
  s.integer("filter_channels", e.filter_channels, 1, 4 * kMaxChannels);
  s.integer("n_heads", e.n_heads, 1, 64);
  s.integer("n_layers", e.n_layers, 1, 64);
  s.integer("kernel_size", e.kernel_size, 1, kMaxKernel);
  s.integer("window_size", e.window_size, 1, 256);
}

void read_duration_predictor(const Section &s, DurationPredictorSizes &d) {
  const std::string kind = s.text("kind", {"stochastic", "deterministic"});
  if (!kind.empty()) d.stochastic = kind == "stochastic";
  s.integer("filter_channels", d.filter_channels, 1, kMaxChannels);
  s.integer("kernel_size", d.kernel_size, 1, kMaxKernel);
  // The dilations grow as 3^i: ten layers already reach 3^9 frames.
  s.integer("n_dds_layers", d.n_dds_layers, 1, 10);
  s.integer("n_flows", d.n_flows, 1, 16);
  s.integer("num_bins", d.num_bins, 2, 64);
  s.number("tail_bound", d.tail_bound, 0.0, 1000.0, /*above_lo=*/true);
}

void read_flow(const Section &s, FlowSizes &f) {
  s.integer("n_couplings", f.n_couplings, 1, 32);
  s.integer("kernel_size", f.kernel_size, 1, kMaxKernel);
  s.integer("dilation_rate", f.dilation_rate, 1, 8);
  s.integer("n_layers", f.n_layers, 1, 64);
}

void read_decoder(const Section &s, DecoderSizes &d) {
  const std::string resblock = s.text("resblock", {"1", "2"});
  if (!resblock.empty()) d.resblock = resblock == "1" ? 1 : 2;
  s.integers("resblock_kernel_sizes", d.resblock_kernel_sizes, 1, kMaxKernel, 16);
  if (const json *value = s.find("resblock_dilation_sizes")) {
    const std::string field = s.field("resblock_dilation_sizes");
    if (!value->is_array() || value->empty() || value->size() > 16)
      refuse_field(field, "must be an array of 1 to 16 arrays of dilations");
    d.resblock_dilation_sizes.clear();
    for (size_t i = 0; i < value->size(); ++i)
      d.resblock_dilation_sizes.push_back(
          integers_at((*value)[i], field + "[" + std::to_string(i) + "]", 1, 64, 16));
  }
  s.integers("upsample_rates", d.upsample_rates, 1, 64, 8);
  s.integers("upsample_kernel_sizes", d.upsample_kernel_sizes, 1, 256, 8);
  s.integer("upsample_initial_channel", d.upsample_initial_channel, 1, kMaxChannels);
}

void read_speakers(const Section &s, Speakers &p) {
  s.integer("n_speakers", p.n_speakers, 0, 1 << 20);
  s.integer("gin_channels", p.gin_channels, 0, kMaxChannels);
  if (const json *names = s.find("names")) {
    const std::string field = s.field("names");
    if (!names->is_object()) refuse_field(field, "must be an object of name -> speaker id");
    for (const auto &item : names->items()) {
      if (item.key().empty()) refuse_field(field, "a speaker name is empty");
      p.names[item.key()] = integer_at(item.value(), field + "." + item.key(), 0, 1 << 20);
    }
  }
}

// null or absent: none.
std::optional<int32_t> optional_id(const Section &s, const char *key) {
  const json *value = s.find(key);
  if (!value || value->is_null()) return std::nullopt;
  return integer_at(*value, s.field(key), 0, std::numeric_limits<int32_t>::max());
}

void read_phoneme_map(const Section &s, FrontEndTable &f) {
  const json *map = s.find("phoneme_map");
  if (!map) return;
  const std::string field = s.field("phoneme_map");
  if (!map->is_object()) refuse_field(field, "must be an object of phoneme -> [phonemes]");
  for (const auto &item : map->items()) {
    const std::string name = field + "." + item.key();
    const json &to = item.value();
    if (item.key().empty()) refuse_field(field, "a phoneme is empty");
    if (!to.is_array() || to.size() > 16) refuse_field(name, "must be an array of 0 to 16 phonemes");
    auto &out = f.phoneme_map[item.key()];
    for (const json &phoneme : to) {
      if (!phoneme.is_string() || phoneme.get<std::string>().empty())
        refuse_field(name, "must hold non-empty strings");
      out.push_back(phoneme.get<std::string>());
    }
  }
}

void read_front_end(const Section &s, FrontEndTable &f) {
  const std::string kind = s.text("kind", {"korva", "espeak", "characters", "piper"});
  if (kind == "espeak") f.kind = FrontEndKind::kEspeak;
  if (kind == "characters") f.kind = FrontEndKind::kCharacters;
  if (kind == "piper") f.kind = FrontEndKind::kPiper;
  if (const json *language = s.find("language")) {
    if (!language->is_string() || language->get<std::string>().empty())
      refuse_field(s.field("language"), "must be a non-empty string");
    f.language = language->get<std::string>();
  }
  if (const json *symbols = s.find("symbols")) {
    const std::string field = s.field("symbols");
    if (!symbols->is_object()) refuse_field(field, "must be an object of symbol -> [ids]");
    for (const auto &item : symbols->items()) {
      const std::string name = field + "." + item.key();
      if (item.key().empty()) refuse_field(field, "a symbol is empty");
      // A symbol may own several ids; text maps it to the first.
      f.symbols[item.key()] =
          integers_at(item.value(), name, 0, std::numeric_limits<int32_t>::max(), 1024)[0];
    }
  }
  f.blank = optional_id(s, "blank");
  f.start = optional_id(s, "start");
  f.end = optional_id(s, "end");
  read_phoneme_map(s, f);
  if (s.find("sentence_silence")) {
    float seconds = 0.0f;
    s.number("sentence_silence", seconds, 0.0, 60.0);
    f.sentence_silence = seconds;
  }
  if (const json *silences = s.find("phoneme_silence")) {
    const std::string field = s.field("phoneme_silence");
    if (!silences->is_object()) refuse_field(field, "must be an object of phoneme -> seconds");
    for (const auto &item : silences->items())
      f.phoneme_silence[item.key()] =
          number_at(item.value(), field + "." + item.key(), 0.0, 60.0, false);
  }
}

void read_inference(const Section &s, InferenceDefaults &d) {
  s.number("noise_scale", d.noise_scale, 0.0, 10.0);
  s.number("noise_scale_w", d.noise_scale_w, 0.0, 10.0);
  s.number("length_scale", d.length_scale, 0.0, 100.0, /*above_lo=*/true);
}

template <typename Read, typename Out>
void read_section(const Section &top, const char *key, std::initializer_list<const char *> known,
                  Read read, Out &out) {
  if (const json *value = top.find(key)) read(Section(*value, key, known), out);
}

}  // namespace

void refuse_field(const std::string &field, const std::string &problem) {
  throw VoiceError(std::string(kVoiceRecord) + ": " + field + ": " + problem);
}

VoiceDescription parse_voice_description(const std::string &text) {
  json root;
  try {
    root = json::parse(text);
  } catch (const json::parse_error &error) {
    throw VoiceError(std::string(kVoiceRecord) + ": not valid JSON (" + error.what() + ")");
  }
  const Section top(root, "",
                    {"format", "sample_rate", "n_vocab", "text_encoder", "duration_predictor",
                     "flow", "decoder", "speakers", "front_end", "inference"});
  const json *format = top.find("format");
  if (!format) refuse_field("format", "missing: this reader knows format 1");
  int32_t version = 0;
  top.integer("format", version, 1, 1);

  VoiceDescription voice;
  voice.duration_predictor.training_parts = false;  // converters leave them out
  top.integer("sample_rate", voice.sample_rate, 1000, 384000);
  top.integer("n_vocab", voice.text_encoder.n_vocab, 1, 1 << 20);
  read_section(top, "text_encoder",
               {"inter_channels", "hidden_channels", "filter_channels", "n_heads", "n_layers",
                "kernel_size", "window_size"},
               read_text_encoder, voice.text_encoder);
  read_section(top, "duration_predictor",
               {"kind", "filter_channels", "kernel_size", "n_dds_layers", "n_flows", "num_bins",
                "tail_bound"},
               read_duration_predictor, voice.duration_predictor);
  read_section(top, "flow", {"n_couplings", "kernel_size", "dilation_rate", "n_layers"}, read_flow,
               voice.flow);
  read_section(top, "decoder",
               {"resblock", "resblock_kernel_sizes", "resblock_dilation_sizes", "upsample_rates",
                "upsample_kernel_sizes", "upsample_initial_channel"},
               read_decoder, voice.decoder);
  read_section(top, "speakers", {"n_speakers", "gin_channels", "names"}, read_speakers,
               voice.speakers);
  read_section(top, "front_end",
               {"kind", "language", "symbols", "blank", "start", "end", "phoneme_map",
                "sentence_silence", "phoneme_silence"},
               read_front_end, voice.front_end);
  read_section(top, "inference", {"noise_scale", "noise_scale_w", "length_scale"}, read_inference,
               voice.inference);
  check_voice_description(voice);
  return voice;
}
