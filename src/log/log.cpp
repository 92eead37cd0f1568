#include "log/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <shared_mutex>

namespace {

std::atomic<int> level{static_cast<int>(LogLevel::kInfo)};

struct Target {
  LogCallback callback = nullptr;
  void *user = nullptr;
};
// Readers hand lines out; a writer changes the target once no line is in hand.
std::shared_mutex target_mutex;
Target target;
thread_local bool in_callback = false;

std::string formatted(const char *format, va_list args) {
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, again);
  va_end(again);
  if (n <= 0) return {};
  std::string text(static_cast<size_t>(n), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

void write(LogLevel line_level, const std::string &line) {
  if (!log_enabled(line_level)) return;
  // A callback that makes the library log again would wait for itself: its lines go to stderr.
  if (!in_callback) {
    const std::shared_lock<std::shared_mutex> lock(target_mutex);
    if (target.callback) {
      in_callback = true;
      // A line is never worth a failed request: whatever a host's callback throws stops here.
      try {
        target.callback(static_cast<int>(line_level), line.c_str(), target.user);
      } catch (...) {
      }
      in_callback = false;
      return;
    }
  }
  // One write per line: lines of parallel calls never mix.
  std::string whole = line;
  whole += '\n';
  std::fwrite(whole.data(), 1, whole.size(), stderr);
}

}  // namespace

void set_log_level(LogLevel new_level) {
  level.store(static_cast<int>(new_level), std::memory_order_relaxed);
}

LogLevel log_level() { return static_cast<LogLevel>(level.load(std::memory_order_relaxed)); }

bool log_enabled(LogLevel line_level) {
  return line_level != LogLevel::kOff &&
         static_cast<int>(line_level) <= level.load(std::memory_order_relaxed);
}

bool set_log_callback(LogCallback callback, void *user) {
  if (in_callback) return false;
  const std::unique_lock<std::shared_mutex> lock(target_mutex);
  target = {callback, user};
  return true;
}

void log_line(LogLevel line_level, const char *format, ...) {
  if (!log_enabled(line_level)) return;
  va_list args;
  va_start(args, format);
  const std::string text = formatted(format, args);
  va_end(args);
  write(line_level, text);
}

void log_text(LogLevel line_level, const std::string &line) { write(line_level, line); }

LogLine::~LogLine() {
  if (enabled_) write(level_, text_);
}

void LogLine::add(const char *format, ...) {
  if (!enabled_) return;
  va_list args;
  va_start(args, format);
  text_ += formatted(format, args);
  va_end(args);
}

void LogBuffer::add(LogLevel line_level, std::string line) {
  if (log_enabled(line_level)) lines_.emplace_back(line_level, std::move(line));
}

void LogBuffer::flush() {
  for (const auto &[line_level, line] : lines_) write(line_level, line);
  lines_.clear();
}
