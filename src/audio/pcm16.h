#pragma once
// Raw audio output: 16-bit signed little-endian PCM, no header.

#include <cstdio>

// Clamps to [-1, 1], scales by 32767 and truncates toward zero (so -32768 never
// appears and NaN becomes 0), then writes `count` samples to `out`. Returns
// false when a write fails.
bool write_pcm16(std::FILE *out, const float *samples, int count);
