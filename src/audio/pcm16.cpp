#include "audio/pcm16.h"

#include <cmath>
#include <cstdint>

namespace {

uint16_t to_pcm16(float s) {
  if (std::isnan(s)) return 0;
  if (s > 1.0f) s = 1.0f;
  if (s < -1.0f) s = -1.0f;
  return static_cast<uint16_t>(static_cast<int16_t>(s * 32767.0f));
}

}  // namespace

bool write_pcm16(std::FILE *out, const float *samples, int count) {
  unsigned char block[8192];
  int done = 0;
  while (done < count) {
    int n = count - done;
    if (n > static_cast<int>(sizeof block / 2)) n = sizeof block / 2;
    for (int i = 0; i < n; ++i) {
      const uint16_t v = to_pcm16(samples[done + i]);
      block[2 * i] = static_cast<unsigned char>(v);
      block[2 * i + 1] = static_cast<unsigned char>(v >> 8);
    }
    if (std::fwrite(block, 2, static_cast<size_t>(n), out) != static_cast<size_t>(n)) return false;
    done += n;
  }
  return true;
}
