#include "audio/wav-writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "audio/pcm16.h"
#include "log/log.h"

namespace {

void put_u16(unsigned char *&at, uint16_t v) {
  *at++ = static_cast<unsigned char>(v);
  *at++ = static_cast<unsigned char>(v >> 8);
}

void put_u32(unsigned char *&at, uint32_t v) {
  put_u16(at, static_cast<uint16_t>(v));
  put_u16(at, static_cast<uint16_t>(v >> 16));
}

void put_tag(unsigned char *&at, const char *tag) {
  std::memcpy(at, tag, 4);
  at += 4;
}

constexpr size_t kHeaderBytes = 44;

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
    log_line(LogLevel::kError, "[audio_io] Cannot create: %s", path);
    return -1;
  }
  const uint32_t channels = buffer->channels > 0 ? static_cast<uint32_t>(buffer->channels) : 1;
  const uint32_t data_bytes = static_cast<uint32_t>(buffer->sample_count) * 2u;
  const uint32_t rate = static_cast<uint32_t>(buffer->sample_rate);

  unsigned char header[kHeaderBytes];
  unsigned char *at = header;
  put_tag(at, "RIFF");
  put_u32(at, data_bytes + 36u);
  put_tag(at, "WAVE");
  put_tag(at, "fmt ");
  put_u32(at, 16);
  put_u16(at, 1);
  put_u16(at, static_cast<uint16_t>(channels));
  put_u32(at, rate);
  put_u32(at, rate * channels * 2u);
  put_u16(at, static_cast<uint16_t>(channels * 2u));
  put_u16(at, 16);
  put_tag(at, "data");
  put_u32(at, data_bytes);

  // A full disk may only show when the buffered rest is flushed by fclose.
  errno = 0;
  bool written = fwrite(header, 1, kHeaderBytes, f) == kHeaderBytes &&
                 write_pcm16(f, buffer->samples, buffer->sample_count);
  const int write_error = errno;
  if (fclose(f) != 0) written = false;
  if (!written) {
    const int error = write_error ? write_error : errno;
    log_line(LogLevel::kError, "[audio_io] Cannot write %s: %s", path,
             error ? std::strerror(error) : "short write");
    return -1;
  }
  log_line(LogLevel::kInfo, "[audio_io] Wrote %s: %d frames, %d Hz, %d ch", path, buffer->frames,
           buffer->sample_rate, static_cast<int>(channels));
  return 0;
}
