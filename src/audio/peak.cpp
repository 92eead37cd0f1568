#include "audio/peak.h"

#include <cmath>

namespace {
constexpr float kTargetPeak = 0.95f;
}  // namespace

float normalise_peak(float *samples, int64_t count) {
  float peak = 0.0f;
  for (int64_t i = 0; i < count; ++i)
    if (std::fabs(samples[i]) > peak) peak = std::fabs(samples[i]);
  if (!(peak > 0.01f) || count <= 0) return 1.0f;
  const float gain = kTargetPeak / peak;
  for (int64_t i = 0; i < count; ++i) samples[i] *= gain;
  return gain;
}
