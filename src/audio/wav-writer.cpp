#include "audio/wav-writer.h"

#include "audio/pcm16.h"

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

  // A short write still ends in a closed file and the report line.
  write_pcm16(f, buffer->samples, buffer->sample_count);
  fclose(f);
  fprintf(stderr, "[audio_io] Wrote %s: %d frames, %d Hz, %d ch\n", path, buffer->frames,
          buffer->sample_rate, static_cast<int>(channels));
  return 0;
}
