// Voices as handles: several open at once, requests on them in parallel, each
// request's audio the same as when it runs alone, and closing one voice never
// disturbing another.
#include <gtest/gtest.h>
#include <torch/torch.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engine-fixture.h"
#include "korva.h"

namespace {

int collect(const float *samples, int count, void *user) {
  static_cast<std::vector<float> *>(user)->insert(static_cast<std::vector<float> *>(user)->end(),
                                                  samples, samples + count);
  return 0;
}

struct Spoken {
  int status = -1;
  std::string error;
  std::vector<float> samples;
};

Spoken say(korva_voice *voice, const char *text, long long seed) {
  korva_options options;
  korva_options_default(&options, sizeof options);
  options.seed = seed;
  Spoken spoken;
  spoken.status = korva_voice_synthesize(voice, text, &options, collect, &spoken.samples);
  spoken.error = korva_last_error();
  return spoken;
}

class Voices : public Engine {
 protected:
  void SetUp() override {
    Engine::SetUp();
    if (IsSkipped()) return;
    korva_set_log_level(KORVA_LOG_WARNING);  // lines of parallel requests are not checked here
    for (korva_voice *&voice : voices_) {
      voice = korva_voice_open(KORVA_GOLDEN_ARCHIVE, nullptr);
      ASSERT_NE(voice, nullptr) << korva_last_error();
    }
  }
  void TearDown() override {
    for (korva_voice *voice : voices_) korva_voice_close(voice);
    korva_set_log_level(KORVA_LOG_INFO);
    Engine::TearDown();
  }
  korva_voice *voices_[2] = {nullptr, nullptr};
};

struct Job {
  int voice;
  const char *text;
  long long seed;
};

TEST_F(Voices, RequestsInParallelSoundAsTheyDoAlone) {
  const Job jobs[] = {
      {0, "The first voice speaks.", 3},
      {1, "And the second answers, at once.", 4},
      // Long enough for layers that libtorch runs one way on one thread and another on
      // two: alone a request has both cores, beside three others one.
      {0, "Twice on one voice, and this time at some length, so that its frames are many.", 5},
      {1, "The first voice speaks.", 3}};  // the first job's twin on the other voice
  std::vector<Spoken> alone, together(std::size(jobs));
  for (const Job &job : jobs) alone.push_back(say(voices_[job.voice], job.text, job.seed));
  std::vector<std::thread> threads;
  for (size_t i = 0; i < std::size(jobs); ++i)
    threads.emplace_back(
        [&, i] { together[i] = say(voices_[jobs[i].voice], jobs[i].text, jobs[i].seed); });
  for (auto &thread : threads) thread.join();
  for (size_t i = 0; i < std::size(jobs); ++i) {
    SCOPED_TRACE(jobs[i].text);
    ASSERT_EQ(alone[i].status, 0) << alone[i].error;
    ASSERT_EQ(together[i].status, 0) << together[i].error;
    EXPECT_GT(alone[i].samples.size(), 4800u);
    EXPECT_TRUE(together[i].samples == alone[i].samples) << "parallel audio differs from alone";
  }
  EXPECT_TRUE(alone[0].samples == alone[3].samples);  // two loads of one archive speak alike
}

// A request of two threads decodes two windows at once, each on kernels built for
// one thread; its audio is that of the same request on one thread, in each precision.
TEST_F(Voices, ARequestSoundsTheSameOnOneThreadAndOnTwo) {
  const char *text = "On one thread and on two.";
  for (const int precision : {KORVA_PRECISION_FP32, KORVA_PRECISION_BF16}) {
    korva_voice_config config;
    korva_voice_config_default(&config, sizeof config);
    config.precision = precision;
    std::vector<float> samples[2];
    for (const int threads : {1, 2}) {
      config.intra_op_threads = threads;
      korva_voice *voice = korva_voice_open(KORVA_GOLDEN_ARCHIVE, &config);
      if (!voice && precision == KORVA_PRECISION_BF16) break;  // not on this CPU
      ASSERT_NE(voice, nullptr) << korva_last_error();
      const Spoken spoken = say(voice, text, 7);
      korva_voice_close(voice);
      ASSERT_EQ(spoken.status, 0) << spoken.error;
      samples[threads - 1] = spoken.samples;
    }
    if (samples[1].empty()) continue;
    SCOPED_TRACE(precision == KORVA_PRECISION_FP32 ? "fp32" : "bf16");
    EXPECT_GT(samples[0].size(), 20480u);  // beyond two windows: 8 and 32 frames of 512 samples
    EXPECT_TRUE(samples[0] == samples[1]) << "two threads changed the audio";
  }
}

int note_threads(const float *, int, void *user) {
  static_cast<std::vector<int> *>(user)->push_back(torch::get_num_threads());
  return 0;
}

// The tensor library resets a thread's count on the thread's first parallel loop,
// and the library's own loops (templates compiled into it) have a "first" of
// their own: a host thread's first request must keep the count it was given.
TEST_F(Voices, AHostThreadsFirstRequestRunsOnTheThreadsItAskedFor) {
  std::vector<int> seen;
  int asked = 0;
  std::thread([&] {
    asked = torch::get_num_threads() + 1;  // not the count a reset would give
    korva_voice_config config;
    korva_voice_config_default(&config, sizeof config);
    config.intra_op_threads = asked;
    korva_voice *voice = korva_voice_open(KORVA_GOLDEN_ARCHIVE, &config);
    ASSERT_NE(voice, nullptr) << korva_last_error();
    korva_options options;
    korva_options_default(&options, sizeof options);
    EXPECT_EQ(korva_voice_synthesize(voice, "Threads.", &options, note_threads, &seen), 0)
        << korva_last_error();
    korva_voice_close(voice);
  }).join();
  ASSERT_FALSE(seen.empty());
  for (const int threads : seen) EXPECT_EQ(threads, asked);
}

TEST_F(Voices, EachVoiceCountsItsOwnSeedsAndTheProcessWideVoiceKeepsItsCounter) {
  load();
  std::vector<std::string> logs;
  korva_set_log_level(KORVA_LOG_INFO);
  korva_options options;
  korva_options_default(&options, sizeof options);
  options.split_sentences = 0;
  auto seed_line = [&](korva_voice *voice) {
    std::vector<float> samples;
    testing::internal::CaptureStderr();
    const int status = voice ? korva_voice_synthesize(voice, "Hi.", &options, collect, &samples)
                             : korva_synthesize("Hi.", &options, collect, &samples);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 0) << log;
    const size_t at = log.find("[korva] Random seed: ");
    return at == std::string::npos ? std::string() : log.substr(at, log.find('\n', at) - at);
  };
  EXPECT_EQ(seed_line(nullptr), "[korva] Random seed: 0");
  EXPECT_EQ(seed_line(voices_[0]), "[korva] Random seed: 0");
  EXPECT_EQ(seed_line(voices_[0]), "[korva] Random seed: 1");
  EXPECT_EQ(seed_line(voices_[1]), "[korva] Random seed: 0");
  EXPECT_EQ(seed_line(nullptr), "[korva] Random seed: 1");
}

struct Slow {
  std::atomic<bool> started{false};
  std::atomic<bool> go_on{false};
};

int wait_for_close(const float *, int, void *user) {
  auto *slow = static_cast<Slow *>(user);
  slow->started = true;
  while (!slow->go_on) std::this_thread::yield();
  return 0;
}

TEST_F(Voices, ClosingAVoiceLeavesTheOtherAndItsOwnRunningRequest) {
  const Spoken before = say(voices_[1], "Still here.", 9);
  Slow slow;
  int status = -1;
  std::thread running([&] {
    korva_options options;
    korva_options_default(&options, sizeof options);
    // Sentences after the close: the voice's model must outlive its handle.
    status = korva_voice_synthesize(voices_[0], "Closed while speaking. It goes on. And on.",
                                    &options, wait_for_close, &slow);
  });
  while (!slow.started) std::this_thread::yield();
  korva_voice_close(voices_[0]);  // the running request keeps the voice until it ends
  voices_[0] = nullptr;
  const Spoken after = say(voices_[1], "Still here.", 9);
  slow.go_on = true;
  running.join();
  EXPECT_EQ(status, 0);
  ASSERT_EQ(after.status, 0) << after.error;
  EXPECT_TRUE(after.samples == before.samples);
  EXPECT_EQ(korva_voice_synthesize(nullptr, "Hi.", nullptr, collect, nullptr), -1);
  EXPECT_STREQ(korva_last_error(), "No voice given");
}

TEST_F(Voices, HandlesDescribeThemselvesAndRefuseBadConfigs) {
  korva_voice_info info;
  ASSERT_EQ(korva_voice_get_info(voices_[0], &info, sizeof info), 0);
  EXPECT_EQ(info.sample_rate, 48000);
  EXPECT_STREQ(info.front_end, "korva");
  EXPECT_EQ(korva_voice_speaker_name(voices_[0], 0), nullptr);  // the golden voice names none
  EXPECT_STREQ(korva_last_error(), "");

  korva_voice_config config;
  ASSERT_EQ(korva_voice_config_default(&config, sizeof config), 0);
  EXPECT_EQ(config.intra_op_threads, 0);
  config.intra_op_threads = -1;
  EXPECT_EQ(korva_voice_open(KORVA_GOLDEN_ARCHIVE, &config), nullptr);
  EXPECT_STREQ(korva_last_error(),
               "Bad voice config: intra_op_threads must be 0 (shared) to 1024, not -1");
  config.intra_op_threads = 1;
  config.precision = 9;
  EXPECT_EQ(korva_voice_open(KORVA_GOLDEN_ARCHIVE, &config), nullptr);
  EXPECT_STREQ(korva_last_error(), "Unknown precision 9");
  EXPECT_EQ(korva_voice_set_precision(voices_[0], 9), -1);
  EXPECT_EQ(korva_voice_set_precision(voices_[0], KORVA_PRECISION_FP32), 0);
  config.size = 3;
  EXPECT_EQ(korva_voice_open(KORVA_GOLDEN_ARCHIVE, &config), nullptr);
  EXPECT_NE(std::string(korva_last_error()).find("size 3 does not even cover the size field"),
            std::string::npos);
  EXPECT_EQ(korva_voice_open(nullptr, nullptr), nullptr);
  EXPECT_STREQ(korva_last_error(), "No voice path given");
  EXPECT_EQ(korva_voice_open("/nonexistent.pt", nullptr), nullptr);
  EXPECT_STREQ(korva_last_error(), "Failed to load manifest");
  korva_voice_close(nullptr);
}

}  // namespace
