// The engine's lifecycle through the exported C functions, on the full-size
// golden archive. Each test runs in a process of its own (one engine per process).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "engine-fixture.h"
#include "korva.h"

namespace {

namespace fs = std::filesystem;

nlohmann::json golden_case(const std::string &name) {
  std::ifstream in(std::string(KORVA_GOLDEN_DIR) + "/cases.json");
  const auto all = nlohmann::json::parse(in);
  for (const auto &c : all["cases"])
    if (c["name"] == name) return c;
  return {};
}

TEST_F(Engine, FirstRequestOfAProcessMatchesTheEmptyTextReference) {
  load();
  std::vector<float> samples;
  const std::string log = speak("", 0.0f, &samples);
  EXPECT_TRUE(contains(log, "[korva] Random seed: 0\n")) << log;
  const auto c = golden_case("empty_text");
  const auto &wave = c["expected"]["wave"];
  ASSERT_EQ(samples.size(), wave["n_samples"].get<size_t>());
  const double tol = 5e-5;  // wave_normalised_abs
  const std::vector<double> first = wave["normalised_first64"], last = wave["normalised_last64"];
  for (size_t i = 0; i < 64; ++i) {
    EXPECT_NEAR(samples[i], first[i], tol) << "sample " << i;
    EXPECT_NEAR(samples[samples.size() - 64 + i], last[i], tol) << "sample from end " << 64 - i;
  }
  float peak = 0;
  for (float s : samples) peak = std::max(peak, std::fabs(s));
  EXPECT_NEAR(peak, 0.95f, 1e-6f);
  EXPECT_TRUE(contains(log, "[korva] 3072 samples (0.06s @ 48kHz, gain=5.4x)\n")) << log;
}

TEST_F(Engine, LoadReportsTheArchiveAndTheBinding) {
  const std::string log = load();
  EXPECT_TRUE(contains(log, "[korva] Loading weights from " KORVA_GOLDEN_ARCHIVE "...\n"));
  EXPECT_TRUE(contains(log, "[korva] Manifest: 834 tensors\n"));
  size_t keys = 0;
  for (size_t p = log.find("[korva]   key: "); p != std::string::npos;
       p = log.find("[korva]   key: ", p + 1))
    ++keys;
  EXPECT_EQ(keys, 5u);
  EXPECT_TRUE(contains(log, "[korva] Loaded 694 parameters\n"));
  EXPECT_TRUE(contains(log, "[korva] Model has 694 parameter tensors total\n"));
  EXPECT_TRUE(contains(log, "[korva]   PLAIN_WEIGHT: enc_p.emb.weight absmax="));
  EXPECT_FALSE(contains(log, "PLAIN_WEIGHT: dec.ups.0.weight_g"));
  EXPECT_TRUE(contains(log, "[test] Cannot open flow_test_zp.bin\n"));
  EXPECT_TRUE(contains(log, "[korva] flow.flows.0.post.weight: abs_sum="));
  EXPECT_TRUE(contains(log, "[korva] Ready.\n"));
}

TEST_F(Engine, SecondLoadIsRefusedAndTheEngineKeepsWorking) {
  load();
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_load(KORVA_GOLDEN_ARCHIVE, kEspeakData), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[korva] Already loaded\n");
  speak("Hello.", 1.0f);
}

TEST_F(Engine, SynthesisNeedsALoadedEngineAndBothPointers) {
  int n = 123;
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_tts("hello", &n, 1.0f), nullptr);
  EXPECT_EQ(korva_tts_to_file("hello", "x.wav", 1.0f), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[korva] ERROR: Not loaded\n[korva] ERROR: Not loaded\n");
  load();
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_tts(nullptr, &n, 1.0f), nullptr);
  EXPECT_EQ(korva_tts("hello", nullptr, 1.0f), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[korva] ERROR: No text given\n[korva] ERROR: No sample count given\n");
  EXPECT_EQ(n, 123);
}

int seed_of(const std::string &log) {
  const auto at = log.find("[korva] Random seed: ");
  return at == std::string::npos ? -1 : std::atoi(log.c_str() + at + 21);
}

TEST_F(Engine, SeedsCountOnAcrossUnloadAndLoad) {
  load();
  const int first = seed_of(speak("one", 1.0f));  // 0 in a fresh process
  EXPECT_GE(first, 0);
  EXPECT_EQ(seed_of(speak("one", 1.0f)), first + 1);
  korva_unload();
  korva_unload();  // not loaded: nothing happens
  load();
  EXPECT_EQ(seed_of(speak("one", 1.0f)), first + 2);
}

TEST_F(Engine, FailedLoadsLeaveTheEngineUnloadedAndReloadable) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_load("/nonexistent/voice.pt", kEspeakData), -1);
  EXPECT_EQ(korva_load(nullptr, kEspeakData), -1);
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(contains(log, "[korva] ERROR: Failed to load manifest\n")) << log;
  korva_unload();
  int n = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_tts("hello", &n, 1.0f), nullptr);
  testing::internal::GetCapturedStderr();
  load();
  speak("hello", 1.0f);
}

TEST_F(Engine, EspeakThatCannotStartFailsTheLoadAndTheProcessLives) {
  const fs::path empty = fs::temp_directory_path() / "korva-empty-espeak-data";
  fs::create_directories(empty);
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_load(KORVA_GOLDEN_ARCHIVE, empty.c_str()), -1);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(contains(log, "[korva] ERROR: Failed to init espeak-ng from " + empty.string() +
                                ": no phoneme data there\n"))
      << log;
  load();
}

TEST_F(Engine, WritesWavFilesAndReportsWriterFailures) {
  load();
  const fs::path wav = fs::temp_directory_path() / "korva-engine-test.wav";
  testing::internal::CaptureStderr();
  ASSERT_EQ(korva_tts_to_file("Hi.", wav.c_str(), 1.0f), 0);
  EXPECT_EQ(korva_tts_to_file("Hi.", nullptr, 1.0f), -1);
  EXPECT_EQ(std::string(korva_last_error()), "No WAV path given");
  EXPECT_EQ(korva_tts_to_file("Hi.", "/nonexistent-dir/x.wav", 1.0f), -1);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(contains(log, "[korva] Wrote " + wav.string() + "\n")) << log;
  EXPECT_TRUE(contains(log,
                       "[audio_io] Cannot create: /nonexistent-dir/x.wav\n"
                       "[korva] ERROR: Write WAV failed\n"));
  EXPECT_FALSE(contains(log, "[audio_io] Cannot create: (null)"));

  std::ifstream in(wav, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 44u);
  auto u32 = [&](size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t(bytes[at + 3]) << 24;
  };
  EXPECT_EQ(u32(24), 48000u);
  EXPECT_EQ(bytes[22], 1);  // mono
  EXPECT_EQ(u32(40), bytes.size() - 44);
  EXPECT_EQ((bytes.size() - 44) % 1024, 0u);  // 512 samples of 2 bytes per frame
  fs::remove(wav);
}

TEST_F(Engine, EmptyAndUnpronounceableTextStillSpeak) {
  load();
  std::vector<float> samples;
  speak("", 1.0f, &samples);
  EXPECT_GE(samples.size(), 512u);
  speak("123 %%% 456", 1.0f, &samples);
  EXPECT_GE(samples.size(), 512u);
}

TEST_F(Engine, AbsurdlySlowSpeechIsRefusedAndTheEngineStaysUsable) {
  load();
  int n = 5;
  testing::internal::CaptureStderr();
  // A length scale of a million: refused as korva_options refuses it, before any work.
  EXPECT_EQ(korva_tts("This would last for days.", &n, 1e-6f), nullptr);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(contains(log, "[korva] ERROR: Bad speed: speed 0.000001 gives a length scale of "))
      << log;
  EXPECT_EQ(n, 0);
  speak("Back to normal.", 1.0f);
}

TEST_F(Engine, CallsFromManyThreadsAtOnceAllSpeak) {
  load();
  testing::internal::CaptureStderr();
  std::vector<std::thread> threads;
  std::vector<int> counts(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &counts] {
      int n = 0;
      float *s = korva_tts(t % 2 ? "Hello there." : "Good morning.", &n, 1.0f);
      counts[t] = s ? n : -1;
      free(s);
      Manifest *m = manifest_open(KORVA_GOLDEN_ARCHIVE);
      if (manifest_count(m) != 834) counts[t] = -2;
      manifest_close(m);
    });
  for (auto &t : threads) t.join();
  testing::internal::GetCapturedStderr();
  for (int c : counts) EXPECT_GT(c, 0);
}

}  // namespace
