#pragma once
// The audio as the server sends it: 16-bit signed little-endian PCM, raw or
// in a WAV file, mono.

#include <cstddef>
#include <string>
#include <vector>

// Clamps to [-1, 1] and scales by 32767, truncating toward zero (NaN: 0), as
// korva's own outputs do; appends 2 bytes per sample to `out`.
void append_pcm16(const float *samples, size_t count, std::string &out);

// A complete WAV file of `samples`, first brought to a peak of 0.95 as
// korva_tts brings its output (a peak of 0.01 or less is left alone).
std::string wav_file(std::vector<float> samples, int sample_rate);
