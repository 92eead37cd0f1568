#include "pcm-encoding.h"

#include <cmath>
#include <cstdint>

namespace {

constexpr float kTargetPeak = 0.95f;

void append_le(std::string &out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

void normalise_peak(std::vector<float> &samples) {
  float peak = 0.0f;
  for (float s : samples) peak = std::fmax(peak, std::fabs(s));  // fmax: NaN never wins
  if (!(peak > 0.01f)) return;
  const float gain = kTargetPeak / peak;
  for (float &s : samples) s *= gain;
}

}  // namespace

void append_pcm16(const float *samples, size_t count, std::string &out) {
  out.reserve(out.size() + 2 * count);
  for (size_t i = 0; i < count; ++i) {
    const float s = std::isnan(samples[i]) ? 0.0f : std::fmin(1.0f, std::fmax(-1.0f, samples[i]));
    append_le(out, static_cast<uint16_t>(static_cast<int16_t>(s * 32767.0f)), 2);
  }
}

std::string wav_file(std::vector<float> samples, int sample_rate) {
  normalise_peak(samples);
  const uint32_t data_bytes = static_cast<uint32_t>(2 * samples.size());
  std::string out = "RIFF";
  append_le(out, 36 + data_bytes, 4);
  out += "WAVEfmt ";
  append_le(out, 16, 4);  // size of the fmt chunk
  append_le(out, 1, 2);   // integer PCM
  append_le(out, 1, 2);   // mono
  append_le(out, static_cast<uint32_t>(sample_rate), 4);
  append_le(out, static_cast<uint32_t>(sample_rate) * 2, 4);  // bytes per second
  append_le(out, 2, 2);                                       // bytes per frame
  append_le(out, 16, 2);                                      // bits per sample
  out += "data";
  append_le(out, data_bytes, 4);
  append_pcm16(samples.data(), samples.size(), out);
  return out;
}
