#include <cstdarg>
#include <cstdio>

#include "api/engine-lock.h"

std::mutex &engine_mutex() {
  static std::mutex mutex;
  return mutex;
}

void record_error(const char *format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  fprintf(stderr, "[korva] ERROR: %s\n", text);
}
