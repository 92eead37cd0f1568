#pragma once
// 16-bit PCM WAV output of interleaved float samples.

#include <cstdint>

// Non-owning description of interleaved float samples.
struct AudioBuffer {
  const float *samples;  // nominal range [-1, 1]; owned by the caller
  int32_t sample_count;  // float values, all channels together
  int32_t sample_rate;   // Hz, per channel
  int32_t channels;      // at least 1
  int32_t frames;        // sample_count / channels
};

// Fills an AudioBuffer; a channel count of 0 or less becomes 1.
AudioBuffer make_audio_buffer(const float *samples, int32_t sample_count, int32_t sample_rate,
                              int32_t channels);

// Writes `buffer` to `path` as a 44-byte-header 16-bit PCM WAV file.
// Returns 0 on success, -1 on failure (bad arguments, file not created, a
// write or the close failed: the file is then incomplete).
int write_wav(const char *path, const AudioBuffer *buffer);
