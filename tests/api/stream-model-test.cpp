// korva_tts_stream and korva_set_precision through the C API on the golden archive.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine-fixture.h"
#include "korva.h"

namespace {

constexpr const char *kSentence = "The quick brown fox jumps over the lazy dog.";

struct Received {
  std::vector<float> samples;
  std::vector<int> chunk_sizes;
  int stop_at_chunk = -1;  // the callback says stop on this chunk (1-based)
  int delay_ms = 0;
  int64_t count = 0;  // samples seen by count_only
};

int count_only(const float *, int count, void *user) {
  static_cast<Received *>(user)->count += count;
  return 0;
}

int collect(const float *samples, int count, void *user) {
  auto *received = static_cast<Received *>(user);
  received->samples.insert(received->samples.end(), samples, samples + count);
  received->chunk_sizes.push_back(count);
  if (received->delay_ms > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(received->delay_ms));
  return static_cast<int>(received->chunk_sizes.size()) == received->stop_at_chunk ? 1 : 0;
}

// Where a child process of this test binary writes its samples.
constexpr const char *kFirstRequestOut = "KORVA_TEST_FIRST_REQUEST_OUT";

// Not a test of its own: run by first_request_in_child in a fresh process.
TEST(Child, DISABLED_FirstRequestToFile) {
  const char *out = std::getenv(kFirstRequestOut);
  if (!out) GTEST_SKIP() << "only run as a child of the streaming test";
  ASSERT_EQ(korva_load(KORVA_GOLDEN_ARCHIVE, kEspeakData), 0);
  int n = 0;
  float *samples = korva_tts(kSentence, &n, 1.0f);
  ASSERT_NE(samples, nullptr);
  std::ofstream(out, std::ios::binary)
      .write(reinterpret_cast<const char *>(samples), static_cast<std::streamsize>(n) * 4);
  free(samples);
  korva_unload();
}

// korva_tts's samples for the first request of a fresh process (seed 0): this
// binary started again, running only the child test above.
std::vector<float> first_request_in_child() {
  const std::string out = testing::TempDir() + "first-request.f32";
  std::remove(out.c_str());
  setenv(kFirstRequestOut, out.c_str(), 1);
  char filter[] = "--gtest_filter=Child.DISABLED_FirstRequestToFile";
  char disabled[] = "--gtest_also_run_disabled_tests";
  char self[] = "/proc/self/exe";
  char *argv[] = {self, filter, disabled, nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, self, nullptr, nullptr, argv, environ);
  unsetenv(kFirstRequestOut);
  if (spawned != 0) return {};
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::ifstream in(out, std::ios::binary | std::ios::ate);
  std::vector<float> samples(static_cast<size_t>(in.tellg()) / sizeof(float));
  in.seekg(0).read(reinterpret_cast<char *>(samples.data()),
                   static_cast<std::streamsize>(samples.size() * sizeof(float)));
  return samples;
}

double peak_rss_mib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  return 0.0;
}

TEST_F(Engine, StreamedChunksAreKorvaTtsSamplesBeforeNormalisation) {
  const auto normalised = first_request_in_child();
  ASSERT_FALSE(normalised.empty());

  load();
  Received received;
  received.delay_ms = 30;  // a slow consumer changes nothing
  testing::internal::CaptureStderr();
  ASSERT_EQ(korva_tts_stream(kSentence, 1.0f, collect, &received), 0);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(contains(log, "[korva] Random seed: 0\n")) << log;

  // Short first chunk for early audio, then longer ones.
  ASSERT_GT(received.chunk_sizes.size(), 3u);
  EXPECT_EQ(received.chunk_sizes.front(), 8 * 512);
  EXPECT_GT(received.chunk_sizes[2], received.chunk_sizes[0]);

  ASSERT_EQ(received.samples.size(), normalised.size());
  float peak = 0.0f;
  for (float s : received.samples) peak = std::max(peak, std::fabs(s));
  const float gain = 0.95f / peak;
  for (size_t i = 0; i < normalised.size(); ++i)
    ASSERT_FLOAT_EQ(received.samples[i] * gain, normalised[i]) << "sample " << i;
  EXPECT_TRUE(contains(log, "samples streamed")) << log;
}

TEST_F(Engine, TheCallbackCanStopTheStream) {
  load();
  Received received;
  received.stop_at_chunk = 2;
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_tts_stream(kSentence, 1.0f, collect, &received), 0);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(received.chunk_sizes.size(), 2u);
  EXPECT_TRUE(contains(log, "stopped by the callback")) << log;
  EXPECT_FALSE(contains(log, "decoder output stats")) << log;
  speak("Still here.", 1.0f);
}

// Every korva_ call made from inside the callback fails at once instead of waiting
// for the lock its own thread holds.
int call_back_in(const float *, int, void *user) {
  auto *results = static_cast<std::vector<int> *>(user);
  int n = 0;
  results->push_back(korva_tts("Again.", &n, 1.0f) == nullptr);
  results->push_back(korva_tts_to_file("Again.", "never.wav", 1.0f) == -1);
  results->push_back(korva_tts_stream("Again.", 1.0f, call_back_in, user) == -1);
  results->push_back(korva_load(KORVA_GOLDEN_ARCHIVE, kEspeakData) == -1);
  results->push_back(korva_set_precision(KORVA_PRECISION_FP32) == -1);
  korva_unload();
  // Archive inspection needs no engine state and still works.
  Manifest *m = manifest_open(KORVA_GOLDEN_ARCHIVE);
  results->push_back(manifest_count(m) == 834);
  manifest_close(m);
  return 1;
}

TEST_F(Engine, CallsFromInsideTheCallbackFailCleanly) {
  load();
  std::vector<int> results;
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_tts_stream("Hello.", 1.0f, call_back_in, &results), 0);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(results, std::vector<int>(6, 1)) << log;
  size_t errors = 0;
  for (size_t at = log.find("Called from inside a callback of another korva call"); at != std::string::npos;
       at = log.find("Called from inside a callback of another korva call", at + 1))
    ++errors;
  EXPECT_EQ(errors, 6u) << log;
  EXPECT_FALSE(std::filesystem::exists("never.wav"));
  speak("The engine was not unloaded.", 1.0f);
}

TEST_F(Engine, StreamingNeedsALoadedEngineTextAndACallback) {
  Received received;
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_tts_stream("Hello.", 1.0f, collect, &received), -1);
  EXPECT_TRUE(contains(testing::internal::GetCapturedStderr(), "[korva] ERROR: Not loaded\n"));
  load();
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_tts_stream(nullptr, 1.0f, collect, &received), -1);
  EXPECT_EQ(korva_tts_stream("Hello.", 1.0f, nullptr, nullptr), -1);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(contains(log, "[korva] ERROR: No text given\n")) << log;
  EXPECT_TRUE(contains(log, "[korva] ERROR: No audio callback given\n")) << log;
  EXPECT_TRUE(received.samples.empty());
}

// What /proc/cpuinfo says of native bfloat16, read independently of the library:
// "" when the CPU has it, else the flags it lacks.
std::string bfloat16_flags_missing() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.rfind("flags", 0) != 0) continue;
    line += ' ';
    if (contains(line, " avx512_bf16 ") || contains(line, " amx_bf16 ")) return "";
    break;
  }
  return "avx512_bf16 and amx_bf16 (per /proc/cpuinfo)";
}

TEST_F(Engine, PrecisionIsCheckedAndBfloat16Speaks) {
  const std::string missing = bfloat16_flags_missing();
  if (!missing.empty()) GTEST_SKIP() << "needs native bfloat16; this CPU lacks " << missing;
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_set_precision(7), -1);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(contains(log, "[korva] ERROR: Unknown precision 7\n")) << log;
  // Chosen before the load, kept by it.
  ASSERT_EQ(korva_set_precision(KORVA_PRECISION_BF16), 0);
  load();
  std::vector<float> samples;
  speak(kSentence, 1.0f, &samples);
  EXPECT_GT(samples.size(), 48000u);
  for (float s : samples) ASSERT_TRUE(std::isfinite(s));
  EXPECT_EQ(korva_set_precision(KORVA_PRECISION_FP32), 0);
}

// Runs on every CPU: where bfloat16 is native it is offered, elsewhere refused;
// and, with the features hidden as on a CPU without them, the refusal names
// what is missing and leaves the engine in float32, its samples unchanged.
TEST_F(Engine, Bfloat16IsRefusedWithoutNativeSupportAndTheEngineStaysFloat32) {
  const bool native = bfloat16_flags_missing().empty();
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_set_precision(KORVA_PRECISION_BF16), native ? 0 : -1);
  EXPECT_EQ(korva_set_precision(KORVA_PRECISION_FP32), 0);
  testing::internal::GetCapturedStderr();

  const auto reference = first_request_in_child();
  setenv("KORVA_CPU_HIDE", "avx512_bf16,amx_bf16", 1);
  struct Unhide {
    ~Unhide() { unsetenv("KORVA_CPU_HIDE"); }
  } unhide;
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_set_precision(KORVA_PRECISION_BF16), -1);
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(contains(log,
                       "[korva] ERROR: bfloat16 is not supported here: this CPU has "
                       "neither AVX512_BF16 nor AMX-BF16"))
      << log;
  load();
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_set_precision(KORVA_PRECISION_BF16), -1);
  testing::internal::GetCapturedStderr();
  std::vector<float> samples;
  speak(kSentence, 1.0f, &samples);
  ASSERT_EQ(samples.size(), reference.size());
  EXPECT_EQ(samples, reference);
}

std::string farmer_text(int sentences) {
  std::string text;
  for (int i = 0; i < sentences; ++i)
    text += "Every morning the farmer walks down to the river and listens to the birds. ";
  return text;
}

// A minute of speech needs no more memory than ten seconds of it: the flow and
// the decoder work window by window, and streamed samples are not kept. (The
// same text spoken slower: only the token-rate networks grow with the text.)
TEST_F(Engine, AMinuteOfSpeechTakesNoMoreMemoryThanTenSeconds) {
  load();
  const std::string text = farmer_text(4);
  Received ten;
  testing::internal::CaptureStderr();
  ASSERT_EQ(korva_tts_stream(text.c_str(), 1.0f, count_only, &ten), 0);
  testing::internal::GetCapturedStderr();
  const double after_ten = peak_rss_mib();

  Received minute;
  testing::internal::CaptureStderr();
  ASSERT_EQ(korva_tts_stream(text.c_str(), 0.12f, count_only, &minute), 0);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_GT(ten.count / 48000.0, 8.0);
  EXPECT_GT(minute.count / 48000.0, 55.0) << log;
  EXPECT_EQ(minute.count % 512, 0);
  const double after_minute = peak_rss_mib();
  EXPECT_LT(after_minute, after_ten * 1.1) << "peak MiB after 10 s: " << after_ten;
  std::printf("peak RSS after %.1f s: %.0f MiB, after %.1f s more: %.0f MiB\n", ten.count / 48000.0,
              after_ten, minute.count / 48000.0, after_minute);
}

}  // namespace
