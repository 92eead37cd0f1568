#include "api/output-sinks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

BufferSink::~BufferSink() { std::free(samples_); }

bool BufferSink::reserve(int64_t samples) {
  if (samples <= capacity_) return true;
  const int64_t capacity = std::max(samples, 2 * capacity_);
  auto *grown =
      static_cast<float *>(std::realloc(samples_, static_cast<size_t>(capacity) * sizeof(float)));
  if (!grown) {
    out_of_memory_ = true;
    return false;
  }
  samples_ = grown;
  capacity_ = capacity;
  return true;
}

// Room for the whole utterance at once: one allocation where the text is one utterance.
void BufferSink::begin(int64_t total_samples) { reserve(count_ + total_samples); }

bool BufferSink::write(const float *chunk, int64_t count) {
  if (count_ + count > std::numeric_limits<int>::max()) {
    too_long_ = true;
    return false;
  }
  if (out_of_memory_ || !reserve(count_ + count)) return false;
  std::memcpy(samples_ + count_, chunk, static_cast<size_t>(count) * sizeof(float));
  count_ += count;
  return true;
}

float *BufferSink::release() {
  float *out = samples_;
  samples_ = nullptr;
  capacity_ = 0;
  return out;
}

bool CallbackSink::write(const float *chunk, int64_t count) {
  delivered_ += count;
  return callback_(chunk, static_cast<int>(count), user_) == 0;
}
