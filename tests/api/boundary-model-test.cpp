// The C boundary: korva_last_error follows every call, sizes and lengths the
// calls cannot honour are refused with a reason, nothing thrown gets out, and
// a process keeps one espeak-ng data directory while voices use it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine-fixture.h"
#include "korva.h"

namespace {

int ignore_audio(const float *, int, void *) { return 0; }

// Calls an export from inside the stream, which refuses it, then lets the stream go on.
int call_inside(const float *, int, void *user) {
  *static_cast<int *>(user) = korva_set_precision(KORVA_PRECISION_FP32);
  return 1;
}

int throw_from_host(const float *, int, void *) { throw std::runtime_error("host callback threw"); }

// Holds the stream at its first chunk until another thread's call got through
// (or for at most a minute: a slow machine is no failure here).
struct Held {
  std::atomic<bool> holding{false}, answered{false};
  bool answered_while_held = false;
};

int hold_until_answered(const float *, int, void *user) {
  auto &held = *static_cast<Held *>(user);
  if (held.holding.exchange(true)) return 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!held.answered && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  held.answered_while_held = held.answered;
  return 0;
}

TEST_F(Engine, LastErrorIsSetByEveryFailureAndClearedByEverySuccess) {
  load();
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_load(KORVA_GOLDEN_ARCHIVE, kEspeakData), -1);
  EXPECT_STREQ(korva_last_error(), "Already loaded");
  EXPECT_NE(testing::internal::GetCapturedStderr().find("[korva] Already loaded\n"),
            std::string::npos);

  korva_voice_info info;
  EXPECT_EQ(korva_get_voice_info(&info, sizeof info), 0);
  EXPECT_STREQ(korva_last_error(), "");

  int inner = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_tts_stream("Hi.", 1.0f, call_inside, &inner), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(inner, -1);  // refused inside, but the stream itself succeeded
  EXPECT_STREQ(korva_last_error(), "");

  EXPECT_EQ(korva_options_default(nullptr, 64), -1);
  EXPECT_STREQ(korva_last_error(), "No options given");
  EXPECT_EQ(manifest_count(nullptr), -1);
  EXPECT_STREQ(korva_last_error(), "No manifest handle given");
  Manifest *manifest = manifest_open(KORVA_GOLDEN_ARCHIVE);
  EXPECT_STREQ(korva_last_error(), "");
  manifest_close(manifest);
}

TEST_F(Engine, GetVoiceInfoSaysWhyItFails) {
  korva_voice_info info;
  EXPECT_EQ(korva_get_voice_info(&info, sizeof info), -1);
  EXPECT_STREQ(korva_last_error(), "Not loaded");
  load();
  EXPECT_EQ(korva_get_voice_info(nullptr, sizeof info), -1);
  EXPECT_STREQ(korva_last_error(), "No voice info given");
  EXPECT_EQ(korva_get_voice_info(&info, 4), -1);
  EXPECT_STREQ(korva_last_error(), "Voice info size 4 is smaller than its size field");
}

TEST_F(Engine, OptionsTooShortForTheirSizeFieldAreRefused) {
  load();
  korva_options options;
  korva_options_default(&options, sizeof options);
  for (const size_t size : {size_t{0}, size_t{7}}) {
    options.size = size;
    testing::internal::CaptureStderr();
    EXPECT_EQ(korva_synthesize("Hi.", &options, ignore_audio, nullptr), -1) << size;
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::string(korva_last_error()),
              "Bad options: size " + std::to_string(size) +
                  " does not even cover the size field: start from korva_options_default");
  }
  options.size = sizeof(size_t);  // only the size field: every option at its default
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_synthesize("Hi.", &options, ignore_audio, nullptr), 0);
  testing::internal::GetCapturedStderr();
}

TEST_F(Engine, TokenIdsBeyondOneUtteranceAreRefusedBeforeAnyWork) {
  load();
  for (const size_t n : {size_t{KORVA_MAX_IDS + 1}, size_t{10'000'000}}) {
    const std::vector<int32_t> ids(n, 3);
    testing::internal::CaptureStderr();
    EXPECT_EQ(korva_synthesize_ids(ids.data(), static_cast<int>(n), nullptr, ignore_audio, nullptr),
              -1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::string(korva_last_error()),
              std::to_string(n) + " token ids: an utterance has at most 4096");
  }
}

TEST_F(Engine, WhatAHostCallbackThrowsStaysInsideTheCall) {
  load();
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_tts_stream("Hi.", 1.0f, throw_from_host, nullptr), -1);
  testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string(korva_last_error()).find("host callback threw"), std::string::npos)
      << korva_last_error();
  korva_set_log_callback([](int, const char *, void *) { throw std::runtime_error("log"); },
                         nullptr);
  EXPECT_EQ(korva_tts_stream("Hi.", 1.0f, ignore_audio, nullptr), 0);
  korva_set_log_callback(nullptr, nullptr);
}

// A copy of espeak-ng's data: the same phonemes from another directory.
class EspeakCopy : public Engine {
 protected:
  void SetUp() override {
    Engine::SetUp();
    copy_ = testing::TempDir() + "korva-boundary-espeak-data";
    const std::string command =
        "rm -rf '" + copy_ + "' && cp -r " + kEspeakData + " '" + copy_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  void TearDown() override {
    Engine::TearDown();
    std::filesystem::remove_all(copy_);
  }
  std::string copy_;
};

TEST_F(EspeakCopy, AnotherDataDirectoryIsRefusedWhileAVoiceUsesOne) {
  testing::internal::CaptureStderr();
  // A failed load gives its espeak-ng back: the next load may use other data.
  EXPECT_EQ(korva_load("/nonexistent.pt", kEspeakData), -1);
  ASSERT_EQ(korva_load(KORVA_GOLDEN_ARCHIVE, copy_.c_str()), 0) << korva_last_error();
  korva_voice *same_data =
      korva_voice_open(KORVA_GOLDEN_ARCHIVE, nullptr);  // NULL: the data in use
  EXPECT_NE(same_data, nullptr) << korva_last_error();
  korva_voice_close(same_data);
  korva_voice_config config;
  korva_voice_config_default(&config, sizeof config);
  config.espeak_data = kEspeakData;
  EXPECT_EQ(korva_voice_open(KORVA_GOLDEN_ARCHIVE, &config), nullptr);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::string(korva_last_error()),
            std::string("Failed to init espeak-ng from ") + kEspeakData +
                ": espeak-ng runs with the data in " + copy_ +
                " for another voice, and a process has one espeak-ng");
}

// A precision change waits for the running stream; the other calls must not wait with it.
TEST_F(Engine, APrecisionChangeWaitingForAStreamHoldsUpNoOtherCall) {
  load();
  Held held;
  std::thread stream([&] { korva_tts_stream("A stream kept open.", 1.0f, hold_until_answered, &held); });
  while (!held.holding) std::this_thread::yield();
  std::thread precision([] { korva_set_precision(KORVA_PRECISION_FP32); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it wait, mostly
  korva_voice_info info;
  EXPECT_EQ(korva_get_voice_info(&info, sizeof info), 0);
  held.answered = true;
  stream.join();
  precision.join();
  EXPECT_TRUE(held.answered_while_held);
}

}  // namespace
