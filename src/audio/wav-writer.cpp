#include "audio/wav-writer.h"

#include <cmath>
#include <cstdio>

namespace {

void put_u16(FILE *f, uint16_t v) {
  const unsigned char b[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
  fwrite(b, 1, 2, f);
}

void put_u32(FILE *f, uint32_t v) {
  const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                              static_cast<unsigned char>(v >> 16),
                              static_cast<unsigned char>(v >> 24)};
  fwrite(b, 1, 4, f);
}

// Clamp, scale by 32767 and truncate toward zero, so -32768 never appears and NaN becomes 0.
int16_t to_pcm16(float s) {
  if (std::isnan(s)) return 0;
  if (s > 1.0f) s = 1.0f;
  if (s < -1.0f) s = -1.0f;
  return static_cast<int16_t>(s * 32767.0f);
}

}  // namespace

AudioBuffer make_audio_buffer(const float *samples, int32_t sample_count, int32_t sample_rate,
                              int32_t channels) {
  if (channels <= 0) channels = 1;
  return AudioBuffer{samples, sample_count, sample_rate, channels, sample_count / channels};
}

int write_wav(const char *path, const AudioBuffer *buffer) {
  if (!path || !buffer || !buffer->samples || buffer->sample_count <= 0) return -1;
  FILE *f = fopen(path, "wb");
  if (!f) {
    fprintf(stderr, "[audio_io] Cannot create: %s\n", path);
    return -1;
  }
  const uint32_t channels = buffer->channels > 0 ? static_cast<uint32_t>(buffer->channels) : 1;
  const uint32_t data_bytes = static_cast<uint32_t>(buffer->sample_count) * 2u;
  const uint32_t rate = static_cast<uint32_t>(buffer->sample_rate);

  fwrite("RIFF", 1, 4, f);
  put_u32(f, data_bytes + 36u);
  fwrite("WAVE", 1, 4, f);
  fwrite("fmt ", 1, 4, f);
  put_u32(f, 16);
  put_u16(f, 1);
  put_u16(f, static_cast<uint16_t>(channels));
  put_u32(f, rate);
  put_u32(f, rate * channels * 2u);
  put_u16(f, static_cast<uint16_t>(channels * 2u));
  put_u16(f, 16);
  fwrite("data", 1, 4, f);
  put_u32(f, data_bytes);

  // Converted in blocks: one fwrite per sample would dominate the cost of long files.
  int16_t block[4096];
  int32_t done = 0;
  while (done < buffer->sample_count) {
    int32_t n = buffer->sample_count - done;
    if (n > 4096) n = 4096;
    for (int32_t i = 0; i < n; ++i) {
      const uint16_t v = static_cast<uint16_t>(to_pcm16(buffer->samples[done + i]));
      unsigned char *b = reinterpret_cast<unsigned char *>(&block[i]);
      b[0] = static_cast<unsigned char>(v);
      b[1] = static_cast<unsigned char>(v >> 8);
    }
    fwrite(block, 2, static_cast<size_t>(n), f);
    done += n;
  }
  fclose(f);
  fprintf(stderr, "[audio_io] Wrote %s: %d frames, %d Hz, %d ch\n", path, buffer->frames,
          buffer->sample_rate, static_cast<int>(channels));
  return 0;
}
