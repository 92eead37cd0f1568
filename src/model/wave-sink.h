#pragma once
// Where synthesis delivers its waveform: chunk by chunk, in order, as each is decoded.

#include <cstdint>

class WaveSink {
 public:
  virtual ~WaveSink() = default;
  // Once, before the first chunk, with the length of the whole utterance.
  virtual void begin(int64_t total_samples) = 0;
  // 48 kHz mono samples; returning false stops the synthesis.
  virtual bool write(const float *samples, int64_t count) = 0;
};
