#pragma once
// Where the exported functions put the audio: a malloc'ed buffer for korva_tts,
// the caller's callback for the streaming functions.

#include <cstdint>

#include "korva.h"
#include "model/wave-sink.h"

// One malloc'ed buffer, grown as utterances and chunks arrive.
class BufferSink : public WaveSink {
 public:
  BufferSink() = default;
  ~BufferSink() override;
  BufferSink(const BufferSink &) = delete;
  BufferSink &operator=(const BufferSink &) = delete;

  void begin(int64_t total_samples) override;
  bool write(const float *chunk, int64_t count) override;
  // The buffer, now the caller's to free.
  float *release();
  int64_t count() const { return count_; }
  bool out_of_memory() const { return out_of_memory_; }
  // Stopped at more samples than an int counts (korva_tts's count).
  bool too_long() const { return too_long_; }

 private:
  bool reserve(int64_t samples);

  float *samples_ = nullptr;
  int64_t count_ = 0;
  int64_t capacity_ = 0;
  bool out_of_memory_ = false;
  bool too_long_ = false;
};

// The caller's callback; a non-zero return stops the synthesis.
class CallbackSink : public WaveSink {
 public:
  CallbackSink(korva_audio_cb callback, void *user) : callback_(callback), user_(user) {}
  void begin(int64_t) override {}
  bool write(const float *chunk, int64_t count) override;
  int64_t delivered() const { return delivered_; }

 private:
  korva_audio_cb callback_;
  void *user_;
  int64_t delivered_ = 0;
};
