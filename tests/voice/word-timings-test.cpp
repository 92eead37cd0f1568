// Word timings on the constructed voice, through the C API: each word's span
// holds its word's sound, and the audio outside every span is silent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "korva.h"

namespace {

constexpr const char *kEspeakData = "/usr/lib/x86_64-linux-gnu/espeak-ng-data";
// Samples next to a span's edge that the decoder's context may blur.
constexpr long long kEdge = 1024;

struct Span {
  long long start, end;
};

int collect(const float *samples, int count, void *user) {
  auto *all = static_cast<std::vector<float> *>(user);
  all->insert(all->end(), samples, samples + count);
  return 0;
}

int word_span(const korva_timing *t, void *user) {
  if (t->kind == KORVA_TIMING_WORD)
    static_cast<std::vector<Span> *>(user)->push_back({t->start_sample, t->end_sample});
  return 0;
}

double rms(const std::vector<float> &s, long long begin, long long end) {
  double sum = 0.0;
  for (long long i = begin; i < end; ++i) sum += static_cast<double>(s[i]) * s[i];
  return end > begin ? std::sqrt(sum / static_cast<double>(end - begin)) : 0.0;
}

TEST(WordTimings, SpansHoldTheWordsAndTheGapsAreSilent) {
  if (!std::filesystem::exists(KORVA_DEFAULT_VOICE))
    GTEST_SKIP() << "default voice " KORVA_DEFAULT_VOICE
                    " absent (tools/voice/korva-voice builds it)";
  testing::internal::CaptureStderr();
  ASSERT_EQ(korva_load(KORVA_DEFAULT_VOICE, kEspeakData), 0)
      << testing::internal::GetCapturedStderr();
  korva_options options;
  korva_options_default(&options, sizeof options);
  options.seed = 1;
  std::vector<Span> words;
  options.on_timing = word_span;
  options.timing_user = &words;
  std::vector<float> audio;
  const int status =
      korva_synthesize("Hello, my dear friend. Sing a song now!", &options, collect, &audio);
  const std::string log = testing::internal::GetCapturedStderr();
  korva_unload();
  ASSERT_EQ(status, 0) << log;
  ASSERT_EQ(words.size(), 8u);

  double loudest = 0.0;
  for (const Span &w : words) loudest = std::max(loudest, rms(audio, w.start, w.end));
  long long covered = 0;
  for (size_t i = 0; i < words.size(); ++i) {
    SCOPED_TRACE("word " + std::to_string(i));
    EXPECT_GT(rms(audio, words[i].start, words[i].end), 0.2 * loudest);
    const long long gap_begin = i == 0 ? 0 : words[i - 1].end;
    EXPECT_LE(gap_begin, words[i].start);
    // What lies between two words (a pause, the silence between sentences) is quiet.
    if (words[i].start - gap_begin > 2 * kEdge) {
      EXPECT_LT(rms(audio, gap_begin + kEdge, words[i].start - kEdge), 0.05 * loudest);
    }
    covered += words[i].end - words[i].start;
  }
  const long long tail = static_cast<long long>(audio.size());
  EXPECT_LE(words.back().end, tail);
  if (tail - words.back().end > 2 * kEdge) {
    EXPECT_LT(rms(audio, words.back().end + kEdge, tail - kEdge), 0.05 * loudest);
  }
  EXPECT_GT(covered, tail / 3);  // the words are most of the audio
}

}  // namespace
