#pragma once
// The engine through its exported C functions on the full-size golden archive.
// ctest runs each test in a process of its own (one engine per process).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "korva.h"

constexpr const char *kEspeakData = "/usr/lib/x86_64-linux-gnu/espeak-ng-data";

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(KORVA_GOLDEN_ARCHIVE))
      GTEST_SKIP() << "golden archive " KORVA_GOLDEN_ARCHIVE " absent (shared test data missing)";
  }
  void TearDown() override { korva_unload(); }

  // Loads the golden voice and returns the load's stderr.
  std::string load() {
    testing::internal::CaptureStderr();
    const int rc = korva_load(KORVA_GOLDEN_ARCHIVE, kEspeakData);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, 0) << log;
    return log;
  }

  // Synthesises `text`; returns the stderr, the samples in *out.
  std::string speak(const char *text, float speed, std::vector<float> *out = nullptr) {
    int n = -7;
    testing::internal::CaptureStderr();
    float *samples = korva_tts(text, &n, speed);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(samples, nullptr) << log;
    if (samples && out) out->assign(samples, samples + n);
    free(samples);
    return log;
  }
};

inline bool contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}
