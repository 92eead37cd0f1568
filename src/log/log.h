#pragma once
// The library's log: every line it writes goes through here, to standard error
// or to the host's callback, and only at the levels the host asked for. Lines
// whose level is off are not made at all: callers ask log_enabled() before
// computing what a line would report (statistics read back from tensors).

#include <string>
#include <utility>
#include <vector>

// The values of KORVA_LOG_* in korva.h.
enum class LogLevel : int { kOff = 0, kError = 1, kWarning = 2, kInfo = 3 };

// Lines of `level` and below are written from now on; kInfo (everything) at start.
void set_log_level(LogLevel level);
LogLevel log_level();
bool log_enabled(LogLevel level);

// Receives each line written, without its newline; valid only during the call.
using LogCallback = void (*)(int level, const char *line, void *user);
// nullptr: standard error again. Waits for lines being handed to the previous
// callback. Returns false, changing nothing, when called from inside the callback.
bool set_log_callback(LogCallback callback, void *user);

// One line, `format` without the newline.
void log_line(LogLevel level, const char *format, ...) __attribute__((format(printf, 2, 3)));
void log_text(LogLevel level, const std::string &line);

// A line made in pieces, written whole (so that lines of parallel requests do
// not mix) when it goes out of scope.
class LogLine {
 public:
  explicit LogLine(LogLevel level) : level_(level), enabled_(log_enabled(level)) {}
  ~LogLine();
  LogLine(const LogLine &) = delete;
  LogLine &operator=(const LogLine &) = delete;

  void add(const char *format, ...) __attribute__((format(printf, 2, 3)));

 private:
  LogLevel level_;
  bool enabled_;
  std::string text_;
};

// Lines kept to be written later, in order (a pass that reports after its work).
class LogBuffer {
 public:
  void add(LogLevel level, std::string line);
  void flush();

 private:
  std::vector<std::pair<LogLevel, std::string>> lines_;
};
