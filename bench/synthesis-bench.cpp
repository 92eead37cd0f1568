// Load time, synthesis time and real-time factor through the C API.
//   synthesis-bench VOICE.pt [REPEATS]
// Excluded from the synthesis timings: the load and one warm-up request.
#include <torch/torch.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "korva.h"

namespace {

// About ten seconds of speech at the default rate.
constexpr const char *kText =
    "The quick brown fox jumps over the lazy dog, while the patient farmer watches from "
    "his porch. Every morning he walks to the river, listens to the birds, and thinks about "
    "the long winter ahead of him.";

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Peak resident memory in MiB since the last reset.
double peak_rss_mib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  return 0.0;
}

void reset_peak_rss() { std::ofstream("/proc/self/clear_refs") << "5"; }

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s VOICE.pt [REPEATS]\n", argv[0]);
    return 2;
  }
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  if (!freopen("/dev/null", "w", stderr)) return 1;  // the engine's log lines

  auto start = std::chrono::steady_clock::now();
  if (korva_load(argv[1], nullptr) != 0) return 1;
  printf("korva_load: %.2f s, peak RSS %.0f MiB (libtorch %s)\n", seconds_since(start),
         peak_rss_mib(), TORCH_VERSION);

  for (int threads : {1, 2}) {
    torch::set_num_threads(threads);
    int n = 0;
    free(korva_tts(kText, &n, 1.0f));  // warm-up
    reset_peak_rss();
    std::vector<double> rtf;
    for (int i = 0; i < repeats; ++i) {
      start = std::chrono::steady_clock::now();
      float *samples = korva_tts(kText, &n, 1.0f);
      const double elapsed = seconds_since(start);
      free(samples);
      rtf.push_back(elapsed / (n / 48000.0));
    }
    std::sort(rtf.begin(), rtf.end());
    printf("threads %d: %.2f s of audio, RTF median %.2f (min %.2f, max %.2f), peak RSS %.0f MiB\n",
           threads, n / 48000.0, rtf[rtf.size() / 2], rtf.front(), rtf.back(), peak_rss_mib());
  }
  korva_unload();
  return 0;
}
