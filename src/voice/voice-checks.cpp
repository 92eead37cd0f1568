#include "voice/voice-checks.h"

#include <string>

#include "voice/voice-json.h"

namespace {

// The constructed front-end's table ends at id 48.
constexpr int32_t kKorvaVocabulary = 49;
// Frames of context a network may reach on each side; beyond it a window of
// chunked synthesis would hold most of a long utterance.
constexpr int64_t kMaxContext = 1 << 16;

std::string at(const char *field, size_t i) { return field + ("[" + std::to_string(i) + "]"); }

void require_odd(int32_t kernel, const std::string &field) {
  if (kernel % 2 == 0)
    refuse_field(field, "must be odd so that the convolution keeps the length, got " +
                      std::to_string(kernel));
}

void check_text_encoder(const TextEncoderSizes &e) {
  if (e.hidden_channels % e.n_heads != 0)
    refuse_field("text_encoder.n_heads", "must divide hidden_channels (" +
                                       std::to_string(e.hidden_channels) + ")");
  if (e.inter_channels % 2 != 0)
    refuse_field("text_encoder.inter_channels", "must be even: the flow splits it in halves");
  require_odd(e.kernel_size, "text_encoder.kernel_size");
}

void check_flow(const FlowSizes &f) {
  require_odd(f.kernel_size, "flow.kernel_size");
  int64_t reach = 0, dilation = 1;
  for (int32_t i = 0; i < f.n_layers && reach <= kMaxContext; ++i, dilation *= f.dilation_rate)
    reach += (f.kernel_size - 1) / 2 * dilation;
  if (reach * f.n_couplings > kMaxContext)
    refuse_field("flow.n_layers", "the couplings would reach more than " + std::to_string(kMaxContext) +
                                " frames (dilation_rate ^ n_layers too large)");
}

void check_decoder(const DecoderSizes &d) {
  if (d.resblock_dilation_sizes.size() != d.resblock_kernel_sizes.size())
    refuse_field("decoder.resblock_dilation_sizes", "must have one list per resblock kernel (" +
                                                  std::to_string(d.resblock_kernel_sizes.size()) +
                                                  ")");
  for (size_t i = 0; i < d.resblock_kernel_sizes.size(); ++i)
    require_odd(d.resblock_kernel_sizes[i], at("decoder.resblock_kernel_sizes", i));
  if (d.upsample_kernel_sizes.size() != d.upsample_rates.size())
    refuse_field("decoder.upsample_kernel_sizes",
           "must have one kernel per upsample rate (" + std::to_string(d.upsample_rates.size()) + ")");
  for (size_t i = 0; i < d.upsample_rates.size(); ++i) {
    const int32_t k = d.upsample_kernel_sizes[i], u = d.upsample_rates[i];
    // Only then does each stage give exactly `rate` samples per input sample.
    if (k < u || (k - u) % 2 != 0)
      refuse_field(at("decoder.upsample_kernel_sizes", i),
             "must be at least the rate (" + std::to_string(u) +
                 ") and differ from it by an even number, got " + std::to_string(k));
  }
  const int32_t stages = static_cast<int32_t>(d.upsample_rates.size());
  if (d.upsample_initial_channel % (1 << stages) != 0)
    refuse_field("decoder.upsample_initial_channel",
           "must be divisible by 2^" + std::to_string(stages) + ": the channels halve per stage");
}

void check_speakers(const Speakers &s) {
  if (s.conditioned() && s.gin_channels == 0)
    refuse_field("speakers.gin_channels", "must be positive for a voice of several speakers");
  const int32_t count = s.n_speakers > 1 ? s.n_speakers : 1;
  for (const auto &[name, id] : s.names)
    if (id >= count)
      refuse_field("speakers.names." + name,
             "speaker " + std::to_string(id) + " of " + std::to_string(count));
}

void check_id(const std::optional<int32_t> &id, const std::string &field, int32_t n_vocab) {
  if (id && *id >= n_vocab)
    refuse_field(field, "id " + std::to_string(*id) + " outside the vocabulary of " +
                      std::to_string(n_vocab));
}

// Code points of UTF-8 text, or -1 when it is malformed.
int code_points(const std::string &text) {
  int count = 0;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t n = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (n == 0 || i + n > text.size()) return -1;
    for (size_t j = 1; j < n; ++j)
      if ((static_cast<unsigned char>(text[i + j]) & 0xC0) != 0x80) return -1;
    i += n;
    ++count;
  }
  return count;
}

void check_front_end(const FrontEndTable &f, int32_t n_vocab) {
  if (f.kind == FrontEndKind::kKorva) {
    if (!f.symbols.empty())
      refuse_field("front_end.symbols", "the korva front-end has its own table: leave it out");
    if (n_vocab < kKorvaVocabulary)
      refuse_field("n_vocab", "the korva front-end needs at least " + std::to_string(kKorvaVocabulary) +
                            " ids");
    return;
  }
  if (f.symbols.empty()) refuse_field("front_end.symbols", "missing: the front-end needs a table");
  for (const auto &[symbol, id] : f.symbols) {
    const std::string field = "front_end.symbols." + symbol;
    if ((f.kind == FrontEndKind::kEspeak || f.kind == FrontEndKind::kPiper) &&
        code_points(symbol) != 1)
      refuse_field(field, "an espeak symbol is one code point");
    if (code_points(symbol) < 0) refuse_field(field, "not valid UTF-8");
    check_id(id, field, n_vocab);
  }
  check_id(f.blank, "front_end.blank", n_vocab);
  check_id(f.start, "front_end.start", n_vocab);
  check_id(f.end, "front_end.end", n_vocab);
  if (f.kind != FrontEndKind::kPiper &&
      (!f.phoneme_map.empty() || f.sentence_silence || !f.phoneme_silence.empty()))
    refuse_field("front_end", "phoneme_map, sentence_silence and phoneme_silence are piper's alone");
}

}  // namespace

void check_voice_description(const VoiceDescription &voice) {
  check_text_encoder(voice.text_encoder);
  require_odd(voice.duration_predictor.kernel_size, "duration_predictor.kernel_size");
  check_flow(voice.flow);
  check_decoder(voice.decoder);
  check_speakers(voice.speakers);
  check_front_end(voice.front_end, voice.text_encoder.n_vocab);
}
