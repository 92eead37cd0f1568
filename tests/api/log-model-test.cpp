// The host's choice of log lines through the C API: how many, and where.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "engine-fixture.h"
#include "korva.h"

namespace {

struct Restore {
  ~Restore() {
    korva_set_log_callback(nullptr, nullptr);
    korva_set_log_level(KORVA_LOG_INFO);
  }
};

int one_seed(korva_options *options) {
  korva_options_default(options, sizeof *options);
  options->seed = 5;
  return 0;
}

int ignore_audio(const float *, int, void *) { return 0; }

void collect(int level, const char *line, void *user) {
  auto *lines = static_cast<std::vector<std::string> *>(user);
  lines->push_back(std::to_string(level) + " " + line);
}

TEST_F(Engine, WarningsOnlyAndOffLeaveOutTheProgressButNotTheErrors) {
  const Restore restore;
  ASSERT_EQ(korva_set_log_level(KORVA_LOG_WARNING), 0);
  EXPECT_EQ(load(), "");
  EXPECT_EQ(speak("Hello there.", 1.0f), "");

  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_tts(nullptr, nullptr, 1.0f), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[korva] ERROR: No text given\n");

  ASSERT_EQ(korva_set_log_level(KORVA_LOG_OFF), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(korva_tts(nullptr, nullptr, 1.0f), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_STREQ(korva_last_error(), "No text given");  // the reason is kept all the same

  EXPECT_EQ(korva_set_log_level(4), -1);
  EXPECT_STREQ(korva_last_error(), "Unknown log level 4: KORVA_LOG_OFF (0) to KORVA_LOG_INFO (3)");
  ASSERT_EQ(korva_set_log_level(KORVA_LOG_INFO), 0);
  EXPECT_STREQ(korva_last_error(), "");
  EXPECT_TRUE(contains(speak("Hello there.", 1.0f), "[korva] Random seed: "));
}

TEST_F(Engine, ACallbackGetsTheLinesStandardErrorWouldHave) {
  const Restore restore;
  load();
  korva_options options;
  one_seed(&options);
  testing::internal::CaptureStderr();
  ASSERT_EQ(korva_synthesize("Two words.", &options, ignore_audio, nullptr), 0);
  const std::string printed = testing::internal::GetCapturedStderr();

  std::vector<std::string> lines;
  ASSERT_EQ(korva_set_log_callback(collect, &lines), 0);
  testing::internal::CaptureStderr();
  ASSERT_EQ(korva_synthesize("Two words.", &options, ignore_audio, nullptr), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_EQ(korva_set_log_callback(nullptr, nullptr), 0);

  std::istringstream expected(printed);
  size_t i = 0;
  for (std::string line; std::getline(expected, line); ++i) {
    ASSERT_LT(i, lines.size());
    EXPECT_EQ(lines[i], "3 " + line);  // a request without trouble logs at KORVA_LOG_INFO
  }
  EXPECT_EQ(i, lines.size());
  EXPECT_GT(i, 20u);
}

}  // namespace

// A log callback that asks the engine something: refused, from inside the call logging.
void ask_inside(int, const char *, void *user) {
  korva_voice_info info;
  static_cast<std::vector<int> *>(user)->push_back(korva_get_voice_info(&info, sizeof info));
}

TEST_F(Engine, ACallRefusedInsideTheLogCallbackLeavesTheFailingCallsReason) {
  const Restore restore;
  std::vector<int> asked;
  ASSERT_EQ(korva_set_log_callback(ask_inside, &asked), 0);
  EXPECT_EQ(korva_voice_open("/nonexistent/voice.pt", nullptr), nullptr);
  const std::string reason = korva_last_error();
  ASSERT_EQ(korva_set_log_callback(nullptr, nullptr), 0);
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked, std::vector<int>(asked.size(), -1));
  EXPECT_EQ(reason.rfind("Failed to load manifest", 0), 0u) << reason;
}
