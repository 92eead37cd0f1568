#include "api/error-report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "log/log.h"

namespace {

// The reason of the last failure on this thread, for korva_last_error.
thread_local char last_error[2048] = "";

}  // namespace

void record_error(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(last_error, sizeof last_error, format, args);
  va_end(args);
  log_line(LogLevel::kError, "[korva] ERROR: %s", last_error);
}

void note_error(const char *text) { snprintf(last_error, sizeof last_error, "%s", text); }

void add_error_cause(const char *format, ...) {
  char cause[512];
  va_list args;
  va_start(args, format);
  vsnprintf(cause, sizeof cause, format, args);
  va_end(args);
  const size_t length = strlen(last_error);
  snprintf(last_error + length, sizeof last_error - length, "; %s", cause);
  log_line(LogLevel::kError, "[korva]   cause: %s", cause);
}

const char *last_error_text() { return last_error; }

void clear_last_error() { last_error[0] = '\0'; }
