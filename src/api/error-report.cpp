#include "api/error-report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "log/log.h"

namespace {

// The reason of the last failure on this thread, for korva_last_error.
thread_local char last_error[2048] = "";

}  // namespace

// The text is kept after the line is logged: a host's log callback may make a
// call of its own, refused, and that refusal must not stand for this failure.
void record_error(const char *format, ...) {
  char text[sizeof last_error];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  log_line(LogLevel::kError, "[korva] ERROR: %s", text);
  memcpy(last_error, text, sizeof text);
}

void note_error(const char *text) { snprintf(last_error, sizeof last_error, "%s", text); }

void add_error_cause(const char *format, ...) {
  char cause[512];
  va_list args;
  va_start(args, format);
  vsnprintf(cause, sizeof cause, format, args);
  va_end(args);
  char text[sizeof last_error];
  memcpy(text, last_error, sizeof text);
  const size_t length = strlen(text);
  snprintf(text + length, sizeof text - length, "; %s", cause);
  log_line(LogLevel::kError, "[korva]   cause: %s", cause);
  memcpy(last_error, text, sizeof text);
}

const char *last_error_text() { return last_error; }

void clear_last_error() { last_error[0] = '\0'; }
