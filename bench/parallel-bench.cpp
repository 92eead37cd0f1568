// Requests in parallel: throughput (seconds of audio per second) and time to
// first audio with 1, 2 and 4 requests at once, on one voice and on two, for
// each thread budget; the memory of two loaded voices against one; and whether
// each request's audio is the same as when it runs alone.
//   parallel-bench VOICE.pt [REPETITIONS [BUDGETS]]   (default 3, "0,1,2")
// BUDGETS: the threads a request, comma-separated; 0 shares the cores among the
// requests running.
// Every request speaks the benchmark's paragraph (about ten seconds) with a
// seed of its own. Excluded: loading, and a warm-up request on each voice.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench-support.h"
#include "korva.h"
#include "synthesis-texts.h"
#include "system-header.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Heard {
  std::vector<float> samples;
  Clock::time_point start;
  double first_audio = -1.0;  // seconds from the start
};

int on_audio(const float *samples, int count, void *user) {
  auto *heard = static_cast<Heard *>(user);
  if (heard->first_audio < 0) heard->first_audio = seconds_since(heard->start);
  heard->samples.insert(heard->samples.end(), samples, samples + count);
  return 0;
}

Heard speak(korva_voice *voice, long long seed, Clock::time_point start) {
  korva_options options;
  korva_options_default(&options, sizeof options);
  options.seed = seed;
  Heard heard;
  heard.start = start;
  if (korva_voice_synthesize(voice, kParagraph, &options, on_audio, &heard) != 0) {
    std::fprintf(stderr, "parallel-bench: %s\n", korva_last_error());
    std::exit(1);
  }
  return heard;
}

korva_voice *open_voice(const char *path, int threads) {
  korva_voice_config config;
  korva_voice_config_default(&config, sizeof config);
  config.intra_op_threads = threads;
  korva_voice *voice = korva_voice_open(path, &config);
  if (!voice) {
    std::fprintf(stderr, "parallel-bench: %s\n", korva_last_error());
    std::exit(1);
  }
  return voice;
}

struct Round {
  double throughput = 0.0;  // seconds of audio per second of wall time
  std::vector<double> first_audio;
  bool identical = true;
};

// `n` requests started together, request i on voices[i % voices.size()] with seed i.
Round run_round(const std::vector<korva_voice *> &voices, int n,
                const std::map<std::pair<korva_voice *, int>, std::vector<float>> &alone) {
  std::vector<Heard> heard(static_cast<size_t>(n));
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (int i = 0; i < n; ++i)
    threads.emplace_back([&, i] { heard[i] = speak(voices[i % voices.size()], i, start); });
  for (auto &thread : threads) thread.join();
  const double wall = seconds_since(start);
  Round round;
  double audio = 0.0;
  for (int i = 0; i < n; ++i) {
    audio += static_cast<double>(heard[i].samples.size()) / 48000.0;
    round.first_audio.push_back(heard[i].first_audio);
    round.identical =
        round.identical && heard[i].samples == alone.at({voices[i % voices.size()], i});
  }
  round.throughput = audio / wall;
  return round;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: parallel-bench VOICE.pt [REPETITIONS]\n");
    return 2;
  }
  const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const std::string budget_list = argc > 3 ? argv[3] : "0,1,2";
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each row as soon as it is measured
  korva_set_log_level(KORVA_LOG_WARNING);

  // Memory: one voice, then a second of the same archive.
  const double before = current_rss_mib();
  korva_voice *first = open_voice(argv[1], std::atoi(budget_list.c_str()));
  const double one = current_rss_mib();
  korva_voice *second = open_voice(argv[1], std::atoi(budget_list.c_str()));
  const double two = current_rss_mib();

  print_system_header("per request: 0 = the cores shared among the requests running (at least 1)");
  std::printf(
      "| memory | MiB |\n|---|---|\n| before any voice | %.0f |\n| one voice | %.0f (+%.0f) |\n"
      "| two voices | %.0f (+%.0f) |\n\n",
      before, one, one - before, two, two - one);

  struct Budget {
    std::string name;
    std::vector<korva_voice *> voices;  // two voices of this budget
  };
  std::vector<Budget> budgets;
  for (size_t at = 0; at < budget_list.size();) {
    const size_t comma = std::min(budget_list.find(',', at), budget_list.size());
    const int threads = std::atoi(budget_list.substr(at, comma - at).c_str());
    const std::string name = threads == 0 ? "shared (0)" : std::to_string(threads);
    if (budgets.empty())
      budgets.push_back({name, {first, second}});
    else
      budgets.push_back({name, {open_voice(argv[1], threads), open_voice(argv[1], threads)}});
    at = comma + 1;
  }

  std::printf(
      "| voices | requests at once | threads a request | throughput (audio s / s) | "
      "first audio, median (s) | first audio, slowest (s) | audio as alone |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (const Budget &budget : budgets) {
    // Each request's audio alone, which every parallel run must reproduce.
    std::map<std::pair<korva_voice *, int>, std::vector<float>> alone;
    for (korva_voice *voice : budget.voices)
      for (int i = 0; i < 4; ++i) alone[{voice, i}] = speak(voice, i, Clock::now()).samples;
    for (const size_t n_voices : {size_t{1}, size_t{2}}) {
      const std::vector<korva_voice *> voices(budget.voices.begin(),
                                              budget.voices.begin() + n_voices);
      for (const int n : {1, 2, 4}) {
        if (static_cast<size_t>(n) < n_voices) continue;
        std::vector<double> throughput, first_audio, slowest;
        bool identical = true;
        for (int r = 0; r < repetitions; ++r) {
          const Round round = run_round(voices, n, alone);
          throughput.push_back(round.throughput);
          const Spread first = spread_of(round.first_audio);
          first_audio.push_back(first.median);
          slowest.push_back(first.max);
          identical = identical && round.identical;
        }
        std::printf("| %zu | %d | %s | %s | %s | %s | %s |\n", n_voices, n, budget.name.c_str(),
                    format_spread(spread_of(throughput), 2).c_str(),
                    format_spread(spread_of(first_audio), 2).c_str(),
                    format_spread(spread_of(slowest), 2).c_str(), identical ? "yes" : "NO");
        std::fflush(stdout);
        if (!identical) return 1;
      }
    }
  }
  for (const Budget &budget : budgets)
    for (korva_voice *voice : budget.voices) korva_voice_close(voice);
  return 0;
}
