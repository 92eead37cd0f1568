// load -> synthesis of words the lexicon lacks (espeak-ng is asked) -> unload,
// repeated in one process and once in each of a few fresh processes, each with
// a time limit. A cycle of the full-size voice costs seconds, so these are few;
// tests/text/phonemizer-cycles-test.cpp repeats the espeak-ng part hundreds of
// times, and scripts/soak runs hundreds of whole cycles.
#include <gtest/gtest.h>

#include <chrono>

#include "bounded-run.h"
#include "engine-fixture.h"
#include "korva.h"

namespace {

// "blorptastic" and "qwzx" are in no lexicon; the rest covers apostrophes and hyphens.
constexpr const char *kMisses = "Rock'n'roll x-ray: blorptastic qwzx done.";
// Far above a cycle's few seconds on a loaded 2-core machine; only a hang reaches it.
constexpr auto kCycleLimit = std::chrono::seconds(300);

int stop_at_first_chunk(const float *, int count, void *user) {
  *static_cast<int *>(user) += count;
  return 1;
}

// One load -> synthesis -> unload; "" or what went wrong. The synthesis stops
// at its first chunk of audio: the text has been through espeak-ng by then,
// and the rest of the decoding would only make the cycle slower.
std::string cycle() {
  testing::internal::CaptureStderr();
  const bool loaded = korva_load(KORVA_GOLDEN_ARCHIVE, kEspeakData) == 0;
  int delivered = 0;
  const int status = loaded ? korva_tts_stream(kMisses, 1.0f, stop_at_first_chunk, &delivered) : -1;
  korva_unload();
  const std::string log = testing::internal::GetCapturedStderr();
  if (!loaded) return "load failed: " + log;
  return status == 0 && delivered > 0 ? "" : "korva_tts_stream failed: " + log;
}

// Not a test of its own: one cycle in a fresh process.
TEST(Child, DISABLED_OneCycle) {
  if (!bounded_run::in_child()) GTEST_SKIP() << "only run as a child";
  ASSERT_EQ(cycle(), "");
}

}  // namespace

TEST_F(Engine, RepeatedCyclesInOneProcessEachWithinTheLimit) {
  EXPECT_EQ(bounded_run::cycles_within(6, kCycleLimit, cycle), "");
}

TEST_F(Engine, OneCycleInEachOfAFewFreshProcesses) {
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(bounded_run::child_within("Child.DISABLED_OneCycle", kCycleLimit), "")
        << "process " << i + 1;
}
