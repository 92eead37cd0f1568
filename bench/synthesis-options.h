// What the synthesis benchmark measures, as chosen on its command line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "korva.h"

constexpr double kSampleRate = 48000.0;  // of every korva output, Hz

struct Precision {
  int id;  // KORVA_PRECISION_*
  const char *name;
};

constexpr Precision kPrecisions[] = {{KORVA_PRECISION_FP32, "fp32"},
                                     {KORVA_PRECISION_BF16, "bf16"}};

struct Options {
  std::string voice;
  int repeats = 3;
  int memory_repeats = 1;       // each is a minute of audio per precision
  // Intra-op threads of each request: the engine's default voice takes its count
  // from OMP_NUM_THREADS, read once, so one count per process.
  int threads = 2;
  std::set<std::string> sections{"load", "rtf", "stream", "memory", "stages"};
  bool log = false;     // keep the engine's standard error
  FILE *csv = nullptr;  // where the figures also go as CSV rows, if anywhere
  std::set<std::string> precision_names{"fp32", "bf16"};
  std::vector<Precision> precisions;  // of those named, the ones the engine accepts
  // The in-process request, when not the paragraph at 48 kHz (synthesis-request.h).
  std::vector<int32_t> ids;          // framed token ids instead of the paragraph
  bool native_rate = false;          // the voice's own rate instead of 48 kHz
  long long seed = KORVA_SEED_NEXT;  // of each request given ids or the native rate
};
