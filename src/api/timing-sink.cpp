#include "api/timing-sink.h"

#include <algorithm>
#include <string>

bool TimingSink::emit(int kind, const std::string &text, TextSpan source, int64_t start,
                      int64_t end) {
  korva_timing timing{};
  timing.kind = kind;
  timing.text = text.c_str();
  timing.text_offset = static_cast<int>(source.offset);
  timing.text_length = static_cast<int>(source.length);
  timing.start_sample = start;
  timing.end_sample = end;
  return target_.callback(&timing, target_.user) == 0;
}

void TimingSink::durations(const std::vector<int64_t> &frames_per_id, int64_t samples_per_frame) {
  if (!target_.callback) return;
  // Output sample where each id starts, and where the last ends: voice samples
  // from the utterance's start, mapped as the resampler maps them.
  std::vector<int64_t> starts(frames_per_id.size() + 1, clock_.now());
  int64_t voice_samples = 0;
  for (size_t j = 0; j < frames_per_id.size(); ++j) {
    voice_samples += frames_per_id[j] * samples_per_frame;
    starts[j + 1] = clock_.now() + clock_.output_samples_of_voice(voice_samples);
  }
  // A symbol runs over its own id; a word from its first symbol to its last.
  const auto symbol_start = [&](size_t k) {
    return starts[std::min(utterance_.id_of_symbol(k), frames_per_id.size())];
  };
  const auto symbol_end = [&](size_t k) {
    return starts[std::min(utterance_.id_of_symbol(k) + 1, frames_per_id.size())];
  };
  for (const UtteranceWord &word : utterance_.words) {
    const TextSpan spoken{word.offset, word.length};
    const TextSpan source = spoken_.source_of(spoken);
    const size_t last = word.first_symbol + word.n_symbols - 1;
    if (!emit(KORVA_TIMING_WORD, spoken_.text.substr(word.offset, word.length), source,
              symbol_start(word.first_symbol), symbol_end(last))) {
      stopped_ = true;
      return;
    }
    for (size_t k = word.first_symbol; k <= last; ++k) {
      if (utterance_.symbols[k] == " ") continue;  // a space inside a word joined in speech
      if (!emit(KORVA_TIMING_PHONEME, utterance_.symbols[k], source, symbol_start(k),
                symbol_end(k))) {
        stopped_ = true;
        return;
      }
    }
  }
}

bool TimingSink::write(const float *samples, int64_t count) {
  return !stopped_ && out_.write(samples, count);
}
