// Time of one waveform decoder forward on 94 latent frames (about 1 s of audio at
// 48 kHz) with 1 and 2 intra-op threads. Excluded: construction, weight set-up and
// the warm-up calls. Usage: decoder-bench [repeats]
#include <torch/torch.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench-support.h"
#include "nn/hifigan-decoder.h"
#include "system-header.h"

namespace {

constexpr int64_t kFrames = 94;
constexpr int kWarmup = 2;
constexpr double kSampleRate = 48000.0;

// Fan-in scaled weights: the randn placeholders overflow to inf, which would time
// a different (non-finite) workload.
void init_weights(DecoderImpl &dec) {
  torch::NoGradGuard no_grad;
  for (auto &w : dec.parameters()) {
    if (w.dim() == 3) w.normal_(0.0, 1.0 / std::sqrt(static_cast<double>(w.numel() / w.size(0))));
  }
}

double time_once_ms(DecoderImpl &dec, const torch::Tensor &z) {
  const auto start = std::chrono::steady_clock::now();
  auto wave = dec.forward(z);
  const auto end = std::chrono::steady_clock::now();
  (void)wave;
  return std::chrono::duration<double, std::milli>(end - start).count();
}

}  // namespace

int main(int argc, char **argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  torch::manual_seed(1);
  Decoder dec;
  dec->eval();
  init_weights(*dec);
  torch::NoGradGuard no_grad;
  const auto z = torch::randn({1, 192, kFrames});
  const double audio_s = static_cast<double>(kFrames * 512) / kSampleRate;

  print_system_header("1, 2");
  std::printf("decoder-bench: %lld frames (%.3f s audio), %d warm-up, %d repeats\n\n",
              static_cast<long long>(kFrames), audio_s, kWarmup, repeats);
  std::printf("| threads | median ms | min ms | max ms | real-time factor |\n");
  std::printf("|---|---|---|---|---|\n");
  for (int threads : {1, 2}) {
    torch::set_num_threads(threads);
    for (int i = 0; i < kWarmup; ++i) time_once_ms(*dec, z);
    std::vector<double> ms;
    for (int i = 0; i < repeats; ++i) ms.push_back(time_once_ms(*dec, z));
    const Spread spread = spread_of(ms);
    std::printf("| %d | %.1f | %.1f | %.1f | %.3f |\n", threads, spread.median, spread.min,
                spread.max, spread.median / 1000.0 / audio_s);
  }
  return 0;
}
