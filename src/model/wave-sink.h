#pragma once
// Where synthesis delivers its waveform: chunk by chunk, in order, as each is decoded.

#include <cstdint>
#include <vector>

class WaveSink {
 public:
  virtual ~WaveSink() = default;
  // Once, before begin: the frames of each token id, and the samples of a frame.
  virtual void durations(const std::vector<int64_t> &frames_per_id, int64_t samples_per_frame) {
    (void)frames_per_id;
    (void)samples_per_frame;
  }
  // Once, before the first chunk, with the length of the whole utterance.
  virtual void begin(int64_t total_samples) = 0;
  // 48 kHz mono samples; returning false stops the synthesis.
  virtual bool write(const float *samples, int64_t count) = 0;
};
