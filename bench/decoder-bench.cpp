// Time of the waveform decoder alone on random latent frames (about 3 s of audio):
// the window decoder at several window sizes and precisions against the
// decoder's own tensor operations over the whole latent at once. Excluded:
// construction, weight set-up, building the window kernels and the warm-up.
//
//   decoder-bench [--shape constructed|ljs|piper-medium] [--windows 16,32,64]
//                 [--threads 1,2] [--repeats N] [--whole 0|1]
#include <torch/torch.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench-support.h"
#include "nn/hifigan-decoder.h"
#include "nn/window-decoder.h"
#include "system-header.h"

namespace {

constexpr double kAudioSeconds = 3.0;

DecoderSizes shape_sizes(const std::string &shape) {
  DecoderSizes sizes;  // the constructed voice's
  if (shape == "ljs") {
    sizes.upsample_rates = {8, 8, 2, 2};
    sizes.upsample_kernel_sizes = {16, 16, 4, 4};
    sizes.upsample_initial_channel = 512;
  } else if (shape == "piper-medium") {
    sizes.resblock = 2;
    sizes.resblock_kernel_sizes = {3, 5, 7};
    sizes.resblock_dilation_sizes = {{1, 2}, {2, 6}, {3, 12}};
    sizes.upsample_rates = {8, 8, 4};
    sizes.upsample_kernel_sizes = {16, 16, 8};
    sizes.upsample_initial_channel = 256;
  }
  return sizes;
}

// Fan-in scaled weights: the randn placeholders overflow to inf, which would time
// a different (non-finite) workload.
void init_weights(DecoderImpl &dec) {
  torch::NoGradGuard no_grad;
  for (auto &w : dec.parameters())
    if (w.dim() == 3) w.normal_(0.0, 1.0 / std::sqrt(static_cast<double>(w.numel() / w.size(0))));
}

std::vector<int64_t> numbers(const std::string &list) {
  std::vector<int64_t> out;
  for (size_t at = 0; at < list.size();) {
    const size_t comma = std::min(list.find(',', at), list.size());
    out.push_back(std::atoll(list.substr(at, comma - at).c_str()));
    at = comma + 1;
  }
  return out;
}

template <typename F>
Spread time_ms(int repeats, F f) {
  f();
  std::vector<double> ms;
  for (int i = 0; i < repeats; ++i) {
    const auto start = std::chrono::steady_clock::now();
    f();
    ms.push_back(seconds_since(start) * 1000.0);
  }
  return spread_of(ms);
}

}  // namespace

int main(int argc, char **argv) {
  std::string shape = "piper-medium";
  std::vector<int64_t> windows{16, 32, 64}, threads{1, 2};
  int repeats = 5;
  bool whole_latent = true;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--shape")) shape = argv[i + 1];
    if (!std::strcmp(argv[i], "--windows")) windows = numbers(argv[i + 1]);
    if (!std::strcmp(argv[i], "--threads")) threads = numbers(argv[i + 1]);
    if (!std::strcmp(argv[i], "--repeats")) repeats = std::max(1, std::atoi(argv[i + 1]));
    if (!std::strcmp(argv[i], "--whole")) whole_latent = std::atoi(argv[i + 1]) != 0;
  }
  torch::manual_seed(1);
  Decoder dec(shape_sizes(shape));
  dec->eval();
  init_weights(*dec);
  torch::NoGradGuard no_grad;
  const int64_t per_frame = dec->samples_per_frame();
  const double rate = shape == "constructed" ? 48000.0 : 22050.0;
  const int64_t frames = static_cast<int64_t>(kAudioSeconds * rate / per_frame);
  const auto z = torch::randn({1, 192, frames});
  const double audio = static_cast<double>(frames * per_frame) / rate;

  std::string thread_list;
  for (int64_t n : threads) thread_list += (thread_list.empty() ? "" : ", ") + std::to_string(n);
  print_system_header(thread_list);
  std::printf("decoder-bench: %s decoder, %lld frames (%.2f s of audio), %d repeats\n\n",
              shape.c_str(), static_cast<long long>(frames), audio, repeats);
  std::printf("| way | precision | threads | ms | real-time factor |\n|---|---|---|---|---|\n");
  for (const bool bf16 : {false, true}) {
    dec->use_bfloat16(bf16);
    const char *precision = bf16 ? "bf16" : "fp32";
    for (int64_t n : threads) {
      torch::set_num_threads(static_cast<int>(n));
      if (whole_latent) {
        const Spread whole = time_ms(repeats, [&] { dec->forward(z); });
        std::printf("| tensor operations, whole latent | %s | %lld | %s | %.4f |\n", precision,
                    static_cast<long long>(n), format_spread(whole, 1).c_str(),
                    whole.median / 1000.0 / audio);
      }
      for (int64_t window : windows) {
        const auto windowed = dec->window_decoder(window);
        if (!windowed) {
          std::printf("| windows of %lld frames | %s | %lld | not available | |\n",
                      static_cast<long long>(window), precision, static_cast<long long>(n));
          continue;
        }
        const auto work = windowed->make_workspace();
        std::vector<float> out(static_cast<size_t>(window * per_frame));
        const auto zc = z.contiguous();
        const Spread ms = time_ms(repeats, [&] {
          for (int64_t begin = 0; begin < frames; begin += window)
            windowed->decode(zc.data_ptr<float>(), frames, begin, out.data(), *work);
        });
        std::printf("| windows of %lld frames | %s | %lld | %s | %.4f |\n",
                    static_cast<long long>(window), precision, static_cast<long long>(n),
                    format_spread(ms, 1).c_str(), ms.median / 1000.0 / audio);
      }
    }
  }
  return 0;
}
