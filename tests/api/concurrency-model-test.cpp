// Threads calling every export in random order for a bounded time, on the
// process-wide voice and on voice handles of their own and shared: each call
// must return one of its documented results, and the process must neither
// crash nor deadlock (a watchdog ends it if the threads stop making progress).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine-fixture.h"
#include "korva.h"

namespace {

constexpr int kThreads = 4;
constexpr auto kRunTime = std::chrono::seconds(20);
// No single call of the golden voice takes this long, even on a loaded machine.
constexpr auto kStallLimit = std::chrono::seconds(300);

std::atomic<long> calls{0};
std::mutex failures_mutex;
std::vector<std::string> failures;

void fail(const std::string &what) {
  const std::lock_guard<std::mutex> lock(failures_mutex);
  if (failures.size() < 20) failures.push_back(what);
}

// A failed call must say why on this thread, in one of the words it documents.
void expect_reason(const char *call, std::initializer_list<const char *> reasons) {
  const std::string reason = korva_last_error();
  for (const char *r : reasons)
    if (reason.rfind(r, 0) == 0) return;
  fail(std::string(call) + " failed with '" + reason + "'");
}

int slow_consumer(const float *, int count, void *user) {
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return ++*static_cast<int *>(user) >= 3 || count <= 0;  // a few chunks, then stop
}

int count_samples(const float *, int, void *) { return 0; }

// A voice handle every thread speaks with, beside the process-wide voice.
korva_voice *shared_voice = nullptr;

void one_call(std::mt19937 &random) {
  const char *text = "Hi, blorptastic qwzx.";
  switch (random() % 14) {
    case 12: {
      // A voice of this thread's own, opened, heard and closed while the others run.
      korva_voice *own = korva_voice_open(KORVA_GOLDEN_ARCHIVE, nullptr);
      if (!own) fail(std::string("korva_voice_open: ") + korva_last_error());
      int chunks = 0;
      if (own && korva_voice_synthesize(own, text, nullptr, slow_consumer, &chunks) != 0)
        fail(std::string("korva_voice_synthesize (own voice): ") + korva_last_error());
      korva_voice_close(own);
      break;
    }
    case 13: {
      korva_options options;
      korva_options_default(&options, sizeof options);
      options.seed = 1;
      if (korva_voice_synthesize(shared_voice, "Go.", &options, count_samples, nullptr) != 0)
        fail(std::string("korva_voice_synthesize (shared voice): ") + korva_last_error());
      break;
    }
    case 0:
      // -1 also when another thread's voice is loaded.
      korva_load(KORVA_GOLDEN_ARCHIVE, kEspeakData);
      break;
    case 1:
      korva_unload();
      break;
    case 2: {
      int n = -1;
      float *samples = korva_tts(text, &n, 1.5f);
      if (samples ? n <= 0 : n > 0) fail("korva_tts: samples and count disagree");
      if (!samples) expect_reason("korva_tts", {"Not loaded"});
      std::free(samples);
      break;
    }
    case 3: {
      int chunks = 0;
      if (korva_tts_stream(text, 1.0f, slow_consumer, &chunks) != 0)
        expect_reason("korva_tts_stream", {"Not loaded"});
      break;
    }
    case 4: {
      korva_options options;
      if (korva_options_default(&options, sizeof options) != 0) fail("korva_options_default");
      options.speed = 2.0f;
      if (korva_synthesize("Go.", &options, count_samples, nullptr) != 0)
        expect_reason("korva_synthesize", {"Not loaded"});
      break;
    }
    case 5:
      if (korva_set_precision(KORVA_PRECISION_FP32) != 0) fail("korva_set_precision fp32");
      if (korva_set_precision(7) != -1) fail("korva_set_precision 7");
      expect_reason("korva_set_precision 7", {"Unknown precision 7"});
      break;
    case 6: {
      korva_voice_info info;
      const int status = korva_get_voice_info(&info, sizeof info);
      if (status == 0 && info.sample_rate <= 0) fail("korva_get_voice_info: no sample rate");
      break;
    }
    case 7:
      korva_speaker_name(0);  // NULL: the golden voice names no speakers
      break;
    case 8: {
      Manifest *m = manifest_open(KORVA_GOLDEN_ARCHIVE);
      if (!m || manifest_count(m) <= 0) fail("manifest_open / manifest_count");
      manifest_close(m);
      break;
    }
    case 9:
      if (manifest_count(nullptr) != -1) fail("manifest_count(NULL)");
      manifest_close(nullptr);
      if (manifest_open(nullptr) != nullptr) fail("manifest_open(NULL)");
      break;
    case 10: {
      int n = 0;
      if (korva_tts(nullptr, &n, 1.0f) != nullptr) fail("korva_tts(NULL)");
      expect_reason("korva_tts(NULL)", {"Not loaded", "No text given"});
      break;
    }
    default:
      if (korva_synthesize(text, nullptr, nullptr, nullptr) != -1) fail("korva_synthesize(NULL)");
      expect_reason("korva_synthesize(NULL)", {"Not loaded", "No audio callback given"});
      break;
  }
  ++calls;
}

}  // namespace

TEST_F(Engine, EveryExportFromManyThreadsInRandomOrder) {
  testing::internal::CaptureStderr();
  shared_voice = korva_voice_open(KORVA_GOLDEN_ARCHIVE, nullptr);
  ASSERT_NE(shared_voice, nullptr) << korva_last_error();
  std::atomic<bool> stop{false};
  std::atomic<int> finished{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&stop, &finished, t] {
      std::mt19937 random(static_cast<unsigned>(t + 1));
      while (!stop) one_call(random);
      ++finished;
    });
  const auto start = std::chrono::steady_clock::now();
  long seen = -1;
  auto progress = start;
  while (finished < kThreads) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto now = std::chrono::steady_clock::now();
    if (now - start >= kRunTime) stop = true;
    if (calls != seen) {
      seen = calls;
      progress = now;
    } else if (now - progress > kStallLimit) {
      std::printf("no call returned for %lld s: deadlocked\n",
                  static_cast<long long>(kStallLimit.count()));
      std::fflush(stdout);
      std::_Exit(1);
    }
  }
  for (auto &thread : threads) thread.join();
  korva_voice_close(shared_voice);
  testing::internal::GetCapturedStderr();
  std::printf("%ld calls from %d threads in %lld s\n", calls.load(), kThreads,
              static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count()));
  for (const std::string &failure : failures) ADD_FAILURE() << failure;
  EXPECT_GT(calls.load(), 0);
}
