// Texts spoken sentence by sentence through the C API on the golden archive:
// long texts whole, silences between sentences, seeds, word timings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "engine-fixture.h"
#include "korva.h"

namespace {

constexpr const char *kTwoSentences = "Hello there. How are you?";

int collect(const float *samples, int count, void *user) {
  auto *all = static_cast<std::vector<float> *>(user);
  all->insert(all->end(), samples, samples + count);
  return 0;
}

struct Timed {
  int kind;
  std::string text;
  int offset, length;
  long long start, end;
};

int record_timing(const korva_timing *t, void *user) {
  static_cast<std::vector<Timed> *>(user)->push_back(
      {t->kind, t->text, t->text_offset, t->text_length, t->start_sample, t->end_sample});
  return 0;
}

korva_options seeded(long long seed) {
  korva_options options;
  korva_options_default(&options, sizeof options);
  options.seed = seed;
  return options;
}

int count_of(const std::string &log, const std::string &part) {
  int n = 0;
  for (size_t at = log.find(part); at != std::string::npos; at = log.find(part, at + 1)) ++n;
  return n;
}

class Sentences : public Engine {
 protected:
  std::vector<float> synthesize(const char *text, const korva_options &options,
                                std::string *log = nullptr) {
    std::vector<float> samples;
    testing::internal::CaptureStderr();
    EXPECT_EQ(korva_synthesize(text, &options, collect, &samples), 0);
    const std::string text_log = testing::internal::GetCapturedStderr();
    if (log) *log = text_log;
    return samples;
  }
};

// Stops the stream once `limit` samples have come.
struct Bounded {
  int64_t received = 0;
  int64_t limit = 0;
};

int until_limit(const float *, int count, void *user) {
  auto *b = static_cast<Bounded *>(user);
  b->received += count;
  return b->received >= b->limit ? 1 : 0;
}

TEST_F(Sentences, ATextOverTheIdLimitIsSpokenWholeByTheSevenFunctions) {
  load();
  std::string text;  // about 4 200 ids: cut at 4 096 by the tokenizer
  for (int i = 0; i < 48; ++i) text += "The quick brown fox jumps over the lazy dog. ";
  // Speaking all 48 sentences would take a minute: the first few show the road.
  Bounded bounded{0, 200000};
  testing::internal::CaptureStderr();
  const int status = korva_tts_stream(text.c_str(), 8.0f, until_limit, &bounded);
  const std::string log = testing::internal::GetCapturedStderr();
  ASSERT_EQ(status, 0) << log.substr(0, 2000);
  EXPECT_TRUE(contains(log, "[korva] Text over 4096 token ids: spoken sentence by sentence"))
      << log.substr(0, 2000);
  // One utterance per sentence, each with the next seed.
  EXPECT_GE(count_of(log, "[korva] Random seed: "), 2);
  EXPECT_TRUE(contains(log, "[korva] Random seed: 0\n") &&
              contains(log, "[korva] Random seed: 1\n"));
  EXPECT_TRUE(contains(log, "[tokenize] 4096 tokens:")) << log.substr(0, 2000);
}

TEST_F(Sentences, SilenceSeparatesSentencesAndSeedsCountUpFromTheRequests) {
  load();
  korva_options options = seeded(5);
  options.sentence_silence = 0.5f;
  std::string log;
  const auto spoken = synthesize(kTwoSentences, options, &log);
  EXPECT_TRUE(contains(log, "[korva] Random seed: 5\n[") && contains(log, "Random seed: 6\n"))
      << log;
  // The same two sentences one by one, with the same seeds.
  const auto first = synthesize("Hello there.", seeded(5));
  const auto second = synthesize("How are you?", seeded(6));
  ASSERT_EQ(spoken.size(), first.size() + 24000 + second.size());
  EXPECT_TRUE(std::equal(first.begin(), first.end(), spoken.begin()));
  EXPECT_TRUE(std::all_of(spoken.begin() + first.size(), spoken.begin() + first.size() + 24000,
                          [](float s) { return s == 0.0f; }));
  EXPECT_TRUE(std::equal(second.begin(), second.end(), spoken.end() - second.size()));
  // The process counter was left alone: a counted request still starts at 0.
  synthesize("Hi.", seeded(KORVA_SEED_NEXT), &log);
  EXPECT_TRUE(contains(log, "[korva] Random seed: 0\n")) << log;
}

TEST_F(Sentences, OneUtteranceWithoutSplittingIsTheLegacyRequest) {
  load();
  std::vector<float> legacy;
  testing::internal::CaptureStderr();
  ASSERT_EQ(korva_tts_stream(kTwoSentences, 1.0f, collect, &legacy), 0);  // seed 0
  testing::internal::GetCapturedStderr();
  korva_options options = seeded(0);
  options.split_sentences = 0;
  options.normalize = 0;
  EXPECT_FALSE(legacy.empty());
  EXPECT_EQ(synthesize(kTwoSentences, options), legacy);
}

TEST_F(Sentences, WordTimingsAreInOrderInsideTheAudioAndPointAtTheirWords) {
  load();
  korva_options options = seeded(2);
  std::vector<Timed> timings;
  options.on_timing = record_timing;
  options.timing_user = &timings;
  const auto spoken = synthesize(kTwoSentences, options);
  const std::string text = kTwoSentences;
  std::vector<std::string> words;
  long long last_end = 0, word_start = 0, word_end = 0;
  for (const Timed &t : timings) {
    EXPECT_LT(t.start, t.end) << t.text;
    EXPECT_LE(t.end, static_cast<long long>(spoken.size()));
    if (t.kind == KORVA_TIMING_WORD) {
      EXPECT_GE(t.start, last_end) << t.text;
      last_end = t.end;
      word_start = t.start;
      word_end = t.end;
      words.push_back(t.text);
      EXPECT_EQ(text.substr(static_cast<size_t>(t.offset), static_cast<size_t>(t.length)), t.text);
    } else {
      EXPECT_GE(t.start, word_start) << t.text;
      EXPECT_LE(t.end, word_end) << t.text;
    }
  }
  EXPECT_EQ(words, (std::vector<std::string>{"Hello", "there", "How", "are", "you"}));
  // The second sentence starts after the first's audio and the silence.
  const auto first = synthesize("Hello there.", seeded(2));
  const auto how =
      std::find_if(timings.begin(), timings.end(), [](const Timed &t) { return t.text == "How"; });
  ASSERT_NE(how, timings.end());
  EXPECT_GT(how->start, static_cast<long long>(first.size()) + 9600);
}

}  // namespace
