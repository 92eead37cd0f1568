// The log: which lines a level lets through, whole lines to a host's callback,
// and a callback that cannot pull the log out from under itself.
#include "log/log.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Lines = std::vector<std::pair<int, std::string>>;

// Lines come from every thread that logs, several at once.
std::mutex collect_mutex;
void collect(int level, const char *line, void *user) {
  const std::lock_guard<std::mutex> lock(collect_mutex);
  static_cast<Lines *>(user)->emplace_back(level, line);
}

// Collects the lines written during its life, at `level`; stderr and kInfo again afterwards.
class Collected {
 public:
  explicit Collected(LogLevel level) {
    set_log_level(level);
    EXPECT_TRUE(set_log_callback(collect, &lines));
  }
  ~Collected() {
    set_log_callback(nullptr, nullptr);
    set_log_level(LogLevel::kInfo);
  }
  Lines lines;
};

void write_one_of_each() {
  log_line(LogLevel::kInfo, "[t] info %d", 1);
  log_line(LogLevel::kWarning, "[t] WARNING: %s", "two");
  log_text(LogLevel::kError, "[t] ERROR: three");
}

TEST(Log, EachLevelLetsThroughItsLinesAndThoseMoreSevere) {
  const std::pair<LogLevel, size_t> cases[] = {
      {LogLevel::kInfo, 3}, {LogLevel::kWarning, 2}, {LogLevel::kError, 1}, {LogLevel::kOff, 0}};
  for (const auto &[level, count] : cases) {
    Collected log(level);
    write_one_of_each();
    ASSERT_EQ(log.lines.size(), count) << static_cast<int>(level);
    if (count > 0) {
      EXPECT_EQ(log.lines.back(), (std::pair<int, std::string>{1, "[t] ERROR: three"}));
    }
    EXPECT_EQ(log_enabled(LogLevel::kInfo), level == LogLevel::kInfo);
    EXPECT_FALSE(log_enabled(LogLevel::kOff));
  }
  Collected info(LogLevel::kInfo);
  write_one_of_each();
  EXPECT_EQ(info.lines,
            (Lines{{3, "[t] info 1"}, {2, "[t] WARNING: two"}, {1, "[t] ERROR: three"}}));
}

TEST(Log, LinesMadeInPiecesAndKeptForLaterArriveWholeAndInOrder) {
  Collected log(LogLevel::kWarning);
  {
    LogLine line(LogLevel::kWarning);
    line.add("[t] values:");
    for (int i = 0; i < 3; ++i) line.add(" %d", i);
    LogLine quiet(LogLevel::kInfo);
    quiet.add("[t] not at this level");
  }
  LogBuffer kept;
  kept.add(LogLevel::kInfo, "[t] dropped at once");
  kept.add(LogLevel::kError, "[t] first");
  kept.add(LogLevel::kWarning, "[t] second");
  EXPECT_EQ(log.lines.size(), 1u);
  kept.flush();
  kept.flush();  // flushed lines go once
  EXPECT_EQ(log.lines, (Lines{{2, "[t] values: 0 1 2"}, {1, "[t] first"}, {2, "[t] second"}}));
}

TEST(Log, LinesOfManyThreadsReachTheCallbackWhole) {
  Collected log(LogLevel::kInfo);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) {
        LogLine line(LogLevel::kInfo);
        line.add("[t] thread %d", t);
        line.add(" line %d", i);
      }
    });
  for (auto &thread : threads) thread.join();
  ASSERT_EQ(log.lines.size(), 800u);
  for (const auto &[level, text] : log.lines) EXPECT_EQ(text.find("[t] thread "), 0u) << text;
}

struct Reentry {
  bool refused = false;
  Lines lines;
};

void change_target_from_inside(int level, const char *line, void *user) {
  auto *reentry = static_cast<Reentry *>(user);
  reentry->lines.emplace_back(level, line);
  // Waiting for the callback to return from inside it would never end: refused instead.
  reentry->refused = !set_log_callback(nullptr, nullptr);
}

TEST(Log, TheCallbackCannotReplaceItselfFromInside) {
  Reentry reentry;
  ASSERT_TRUE(set_log_callback(change_target_from_inside, &reentry));
  log_line(LogLevel::kWarning, "[t] WARNING: once");
  EXPECT_TRUE(reentry.refused);
  EXPECT_TRUE(set_log_callback(nullptr, nullptr));
  testing::internal::CaptureStderr();
  log_line(LogLevel::kWarning, "[t] WARNING: to stderr again");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[t] WARNING: to stderr again\n");
  EXPECT_EQ(reentry.lines.size(), 1u);
}

}  // namespace
