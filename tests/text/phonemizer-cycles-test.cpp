// The front-end's part of load -> speak -> unload with words only espeak-ng
// knows, hundreds of times in one process and once in each of many fresh
// processes, each with a time limit: espeak-ng 1.51 could hang in its
// terminate, which a host's unload must never do.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "bounded-run.h"
#include "text/phonemizer.h"

namespace {

constexpr const char *kEspeakData = "/usr/lib/x86_64-linux-gnu/espeak-ng-data";
constexpr auto kCycleLimit = std::chrono::seconds(60);

std::string cycle() {
  testing::internal::CaptureStderr();
  const int started = phonemizer_init(kEspeakData);
  std::unique_ptr<char, decltype(&std::free)> ipa(
      phonemize("Rock'n'roll x-ray: blorptastic qwzx done."), &std::free);
  phonemizer_shutdown();
  const std::string log = testing::internal::GetCapturedStderr();
  if (started != 0) return "init failed: " + log;
  if (!ipa || log.find("espeak=3") == std::string::npos) return "espeak-ng was not asked: " + log;
  return "";
}

TEST(Child, DISABLED_ThreeCycles) {
  if (!bounded_run::in_child()) GTEST_SKIP() << "only run as a child";
  for (int i = 0; i < 3; ++i) ASSERT_EQ(cycle(), "");
}

TEST(PhonemizerCycles, TwoHundredInOneProcess) {
  EXPECT_EQ(bounded_run::cycles_within(200, kCycleLimit, cycle), "");
}

TEST(PhonemizerCycles, ThreeInEachOfTwentyFreshProcesses) {
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(bounded_run::child_within("Child.DISABLED_ThreeCycles", kCycleLimit), "")
        << "process " << i + 1;
}

}  // namespace
