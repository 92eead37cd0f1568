#pragma once
// The vector features this CPU runs natively, as cpuid reports them and the
// operating system enables them. bfloat16 is worth using only where the CPU
// has it: elsewhere the tensor library emulates it, slower and less exactly
// than float32.

#include <string>

struct CpuFeatures {
  bool avx2 = false;
  bool avx512f = false;
  bool avx512_bf16 = false;
  bool amx_bf16 = false;
};

// This CPU's features, less those named in the environment variable
// KORVA_CPU_HIDE (comma-separated, as in "avx512_bf16,amx_bf16"), so that the
// paths of a lesser CPU can be tried on this one.
CpuFeatures cpu_features();

// "avx2 avx512f avx512_bf16": the features present, by their /proc/cpuinfo names.
std::string describe_cpu_features(const CpuFeatures &features);

// Whether the decoder's bfloat16 kernels beat its float32 ones here: with AMX-BF16.
// With AVX512_BF16 alone they were measured slower (the decoder's thin
// convolutions are bound by memory there, not by arithmetic).
bool bfloat16_pays(const CpuFeatures &features);

// "" where bfloat16 runs natively (AVX512_BF16 or AMX-BF16); otherwise a
// sentence naming what is missing.
std::string bfloat16_missing(const CpuFeatures &features);
