#include "api/engine-lock.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "model/large-blocks.h"

namespace {

std::mutex engine_mutex;
thread_local bool this_thread_holds = false;
// The reason of the last failure on this thread, for korva_last_error.
thread_local char last_error[2048] = "";

}  // namespace

EngineLock::EngineLock() : held_(!this_thread_holds) {
  if (!held_) return;
  last_error[0] = '\0';
  engine_mutex.lock();
  this_thread_holds = true;
  large_blocks_open();
}

EngineLock::~EngineLock() {
  if (!held_) return;
  large_blocks_close();
  this_thread_holds = false;
  engine_mutex.unlock();
}

void record_error(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(last_error, sizeof last_error, format, args);
  va_end(args);
  fprintf(stderr, "[korva] ERROR: %s\n", last_error);
}

void add_error_cause(const char *format, ...) {
  char cause[512];
  va_list args;
  va_start(args, format);
  vsnprintf(cause, sizeof cause, format, args);
  va_end(args);
  const size_t length = strlen(last_error);
  snprintf(last_error + length, sizeof last_error - length, "; %s", cause);
  fprintf(stderr, "[korva]   cause: %s\n", cause);
}

bool EngineLock::refused() const {
  if (!held_)
    record_error("Called from inside a stream callback: the engine is busy with that stream");
  return !held_;
}

const char *last_error_text() { return last_error; }
