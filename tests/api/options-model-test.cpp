// korva_synthesize and its options through the C API on the golden archive.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine-fixture.h"
#include "korva.h"

namespace {

constexpr const char *kText = "Hello there.";

int collect(const float *samples, int count, void *user) {
  auto *all = static_cast<std::vector<float> *>(user);
  all->insert(all->end(), samples, samples + count);
  return 0;
}

korva_options defaults() {
  korva_options options;
  korva_options_default(&options, sizeof options);
  return options;
}

class Options : public Engine {
 protected:
  // The samples of one korva_synthesize call (empty on failure) and its stderr in *log.
  std::vector<float> synthesize(const korva_options *options, std::string *log = nullptr,
                                int *status = nullptr) {
    std::vector<float> samples;
    testing::internal::CaptureStderr();
    const int rc = korva_synthesize(kText, options, collect, &samples);
    const std::string text = testing::internal::GetCapturedStderr();
    if (log) *log = text;
    if (status) *status = rc;
    return samples;
  }
};

TEST_F(Options, ASeedOfItsOwnRepeatsTheCountersRequestAndLeavesTheCounterAlone) {
  load();
  korva_options options = defaults();
  options.seed = 0;
  std::string log;
  const auto seeded = synthesize(&options, &log);
  EXPECT_TRUE(contains(log, "[korva] Random seed: 0\n")) << log;

  // The process counter is still at 0: the next counted request draws seed 0 too.
  std::vector<float> counted;
  testing::internal::CaptureStderr();
  ASSERT_EQ(korva_tts_stream(kText, 1.0f, collect, &counted), 0);
  log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(contains(log, "[korva] Random seed: 0\n")) << log;
  ASSERT_FALSE(seeded.empty());
  EXPECT_EQ(seeded, counted);

  options.seed = 7;
  EXPECT_NE(synthesize(&options), seeded);
  synthesize(nullptr, &log);  // NULL: the defaults, the counter's next
  EXPECT_TRUE(contains(log, "[korva] Random seed: 1\n")) << log;
}

TEST_F(Options, LengthScaleAndSpeedAgree) {
  load();
  korva_options by_speed = defaults();
  by_speed.seed = 3;
  by_speed.speed = 2.0f;
  korva_options by_scale = by_speed;
  by_scale.speed = 1.0f;
  by_scale.length_scale = 0.5f;
  const auto fast = synthesize(&by_speed);
  EXPECT_EQ(fast, synthesize(&by_scale));
  by_scale.length_scale = 1.0f;
  EXPECT_GT(synthesize(&by_scale).size(), fast.size());
}

// A caller built against a shorter struct: the fields it does not know keep their defaults.
TEST_F(Options, FieldsBeyondTheCallersSizeKeepTheirDefaults) {
  load();
  korva_options options;
  std::memset(&options, 0xff, sizeof options);
  ASSERT_EQ(korva_options_default(&options, offsetof(korva_options, noise_scale)), 0);
  EXPECT_EQ(options.size, offsetof(korva_options, noise_scale));
  EXPECT_EQ(options.speed, 1.0f);
  int status = -7;
  std::string log;
  EXPECT_FALSE(synthesize(&options, &log, &status).empty());
  EXPECT_EQ(status, 0) << log;
}

TEST_F(Options, EveryBadOptionIsAClearErrorAndTheEngineStaysUsable) {
  load();
  struct Case {
    const char *what;
    void (*set)(korva_options &);
    const char *message;
  };
  const Case cases[] = {
      {"speed 0", [](korva_options &o) { o.speed = 0.0f; }, "speed must be a positive number"},
      {"speed NaN", [](korva_options &o) { o.speed = NAN; }, "speed must be a positive number"},
      {"speed inf", [](korva_options &o) { o.speed = INFINITY; },
       "speed must be a positive number"},
      {"speed 1e30", [](korva_options &o) { o.speed = 1e30f; }, "speed must be a positive number"},
      {"speed 1e-30", [](korva_options &o) { o.speed = 1e-30f; },
       "speed must be a positive number"},
      {"speed -inf", [](korva_options &o) { o.speed = -INFINITY; },
       "speed must be a positive number"},
      {"length scale -1", [](korva_options &o) { o.length_scale = -1.0f; }, "length_scale must be"},
      {"length scale inf", [](korva_options &o) { o.length_scale = INFINITY; },
       "length_scale must be 0.01 to 100"},
      {"length scale 1e-30", [](korva_options &o) { o.length_scale = 1e-30f; },
       "length_scale must be 0.01 to 100"},
      {"noise NaN", [](korva_options &o) { o.noise_scale = NAN; }, "noise scales must be finite"},
      {"speaker 1", [](korva_options &o) { o.speaker = 1; },
       "speaker 1 out of range: the voice has 1 speaker (id 0)"},
      {"speaker -1", [](korva_options &o) { o.speaker = -1; }, "speaker -1 out of range"},
      {"speaker name", [](korva_options &o) { o.speaker_name = "bob"; },
       "unknown speaker name 'bob': the voice names no speakers"},
      {"seed -2", [](korva_options &o) { o.seed = -2; }, "seed must be 0 to 2147483647"},
      {"silence NaN", [](korva_options &o) { o.sentence_silence = NAN; }, "sentence_silence must be"},
      {"silence 61", [](korva_options &o) { o.sentence_silence = 61.0f; }, "sentence_silence must be"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    korva_options options = defaults();
    c.set(options);
    std::string log;
    int status = 0;
    EXPECT_TRUE(synthesize(&options, &log, &status).empty());
    EXPECT_EQ(status, -1);
    EXPECT_TRUE(contains(log, std::string("[korva] ERROR: Bad options: ") + c.message)) << log;
  }
  std::vector<float> samples;
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_synthesize(kText, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(korva_synthesize(nullptr, nullptr, collect, &samples), -1);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(contains(log, "No audio callback given")) << log;
  EXPECT_FALSE(synthesize(nullptr).empty());
}

TEST_F(Options, FramedIdsSpeakAsTheTextTheyComeFrom) {
  load();
  // "Hi." as `korva phonemize` frames it.
  const std::vector<int32_t> ids = {2, 3, 9, 3, 4, 3, 33, 3, 42, 3, 45, 3, 1};
  korva_options options = defaults();
  options.seed = 4;
  std::vector<float> from_ids;
  testing::internal::CaptureStderr();
  ASSERT_EQ(korva_synthesize_ids(ids.data(), static_cast<int>(ids.size()), &options, collect,
                                 &from_ids),
            0);
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(contains(log, "[korva] Random seed: 4\n")) << log;
  std::vector<float> from_text;
  testing::internal::CaptureStderr();
  ASSERT_EQ(korva_synthesize("Hi.", &options, collect, &from_text), 0);
  testing::internal::GetCapturedStderr();
  ASSERT_FALSE(from_ids.empty());
  EXPECT_EQ(from_ids, from_text);

  const std::vector<int32_t> bad = {2, 3, 49, 3, 1};
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_synthesize_ids(bad.data(), 5, &options, collect, &from_ids), -1);
  EXPECT_EQ(korva_synthesize_ids(nullptr, 5, &options, collect, &from_ids), -1);
  EXPECT_EQ(korva_synthesize_ids(bad.data(), 0, &options, collect, &from_ids), -1);
  log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(contains(log, "Token id 49 at position 2 is outside the voice's vocabulary of 49"))
      << log;
  EXPECT_TRUE(contains(log, "No token ids given")) << log;
}

TEST_F(Options, TextToIdsGivesTheIdsSynthesisSpeaks) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_text_to_ids("Hi.", nullptr), nullptr);
  EXPECT_STREQ(korva_last_error(), "Not loaded");
  testing::internal::GetCapturedStderr();
  load();
  korva_options options = defaults();
  testing::internal::CaptureStderr();
  korva_text_ids *read = korva_text_to_ids("Hi. Dr. Smith paid $5.", &options);
  testing::internal::GetCapturedStderr();
  ASSERT_NE(read, nullptr) << korva_last_error();
  // One utterance per sentence, the title no sentence end, the amount in words.
  ASSERT_EQ(read->n_utterances, 2);
  EXPECT_EQ(std::vector<int32_t>(read->utterances[0].ids, read->utterances[0].ids + read->utterances[0].n_ids),
            (std::vector<int32_t>{2, 3, 9, 3, 4, 3, 33, 3, 42, 3, 45, 3, 1}));
  EXPECT_NE(std::string(read->utterances[1].phonemes).find("dˈɑktɚ"), std::string::npos)
      << read->utterances[1].phonemes;

  // The second sentence's ids speak as the sentence does in a request of its own.
  options.seed = 2;
  std::vector<float> from_ids, from_text;
  testing::internal::CaptureStderr();
  ASSERT_EQ(korva_synthesize_ids(read->utterances[1].ids, read->utterances[1].n_ids, &options,
                                 collect, &from_ids),
            0);
  ASSERT_EQ(korva_synthesize("Dr. Smith paid $5.", &options, collect, &from_text), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(from_ids, from_text);
  korva_text_ids_free(read);
  korva_text_ids_free(nullptr);

  options.speaker = 3;
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_text_to_ids("Hi.", &options), nullptr);
  EXPECT_EQ(korva_text_to_ids(nullptr, nullptr), nullptr);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(contains(log, "Bad options: speaker 3 out of range")) << log;
  EXPECT_TRUE(contains(log, "No text given")) << log;
}

TEST_F(Options, VoiceInfoDescribesTheLoadedVoice) {
  korva_voice_info info;
  EXPECT_EQ(korva_get_voice_info(&info, sizeof info), -1);
  load();
  ASSERT_EQ(korva_get_voice_info(&info, sizeof info), 0);
  EXPECT_EQ(info.size, sizeof info);
  EXPECT_EQ(info.sample_rate, 48000);
  EXPECT_EQ(info.n_speakers, 1);
  EXPECT_STREQ(info.front_end, "korva");
  EXPECT_FLOAT_EQ(info.noise_scale, 0.66f);
  EXPECT_FLOAT_EQ(info.length_scale, 1.0f);
  EXPECT_EQ(korva_speaker_name(0), nullptr);
  EXPECT_EQ(korva_get_voice_info(nullptr, sizeof info), -1);
  // The native rate of a 48 kHz voice is 48 kHz: the same samples.
  korva_options options = defaults();
  options.seed = 2;
  const auto at_48k = synthesize(&options);
  options.native_rate = 1;
  EXPECT_EQ(synthesize(&options), at_48k);
}

}  // namespace
