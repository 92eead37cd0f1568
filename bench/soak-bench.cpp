// load -> korva_tts (a text espeak-ng is asked about) -> unload, many times in
// one process: the resident size after each cycle and the peak of each, and
// the time of the cycles. The resident size must stay flat (within 5 % from
// cycle 20 on), and every cycle must end.
//   soak-bench VOICE.pt [CYCLES]       (default 200)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench-support.h"
#include "korva.h"

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: soak-bench VOICE.pt [CYCLES]\n");
    return 2;
  }
  const int cycles = argc > 2 ? std::atoi(argv[2]) : 200;
  constexpr const char *kEspeakData = "/usr/lib/x86_64-linux-gnu/espeak-ng-data";
  std::vector<double> after, peak;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < cycles; ++i) {
    reset_peak_rss();
    if (korva_load(argv[1], kEspeakData) != 0) return 1;
    int n = 0;
    float *samples = korva_tts("Rock'n'roll x-ray: blorptastic qwzx done.", &n, 1.0f);
    if (!samples) return 1;
    std::free(samples);
    korva_unload();
    peak.push_back(peak_rss_mib());
    after.push_back(current_rss_mib());
    std::printf("cycle %d: peak %.0f MiB, after unload %.0f MiB\n", i + 1, peak.back(),
                after.back());
    std::fflush(stdout);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Fewer than 20 cycles: the range is that of every cycle.
  const size_t first = peak.size() >= 20 ? 19 : 0;
  double lo = 1e30, hi = 0;
  for (size_t i = first; i < peak.size(); ++i) {
    lo = std::min(lo, peak[i]);
    hi = std::max(hi, peak[i]);
  }
  std::printf("| cycles | s per cycle | peak RSS from cycle %zu (MiB) | spread | after unload, last (MiB) |\n",
              first + 1);
  std::printf("|---|---|---|---|---|\n");
  std::printf("| %d | %.2f | %.0f .. %.0f | %.1f %% | %.0f |\n", cycles, seconds / cycles, lo, hi,
              hi > 0 ? 100.0 * (hi - lo) / lo : 0.0, after.empty() ? 0.0 : after.back());
  return peak.size() > 20 && hi > 1.05 * lo ? 1 : 0;
}
