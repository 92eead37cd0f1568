#include "api/engine-lock.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

std::mutex engine_mutex;
thread_local bool this_thread_holds = false;

}  // namespace

EngineLock::EngineLock() : held_(!this_thread_holds) {
  if (!held_) return;
  engine_mutex.lock();
  this_thread_holds = true;
}

EngineLock::~EngineLock() {
  if (!held_) return;
  this_thread_holds = false;
  engine_mutex.unlock();
}

void record_error(const char *format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  fprintf(stderr, "[korva] ERROR: %s\n", text);
}

bool EngineLock::refused() const {
  if (!held_)
    record_error("Called from inside a stream callback: the engine is busy with that stream");
  return !held_;
}
