#pragma once
// Raw audio output: 16-bit signed little-endian PCM, no header.

#include <cstdio>

// Converts like the WAV writer (clamp to [-1, 1], scale by 32767, truncate
// toward zero, NaN as 0) and writes `count` samples to `out`. Returns false
// when a write fails.
bool write_pcm16(std::FILE *out, const float *samples, int count);
