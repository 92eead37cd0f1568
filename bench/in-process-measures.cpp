#include "in-process-measures.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench-support.h"
#include "stage-profile.h"
#include "synthesis-request.h"
#include "synthesis-texts.h"

namespace {

constexpr int kTopOperators = 8;

}  // namespace

void measure_rtf(const Options &options) {
  std::printf("## %s real-time factor, %s\n\n", request_function(options, false).c_str(),
              describe_request(options).c_str());
  std::printf("| precision | threads | audio, s | RTF |\n|---|---|---|---|\n");
  const int threads = options.threads;
  for (const auto &precision : options.precisions) {
    korva_set_precision(precision.id);
    double audio = speak_request(options);
    std::vector<double> rtf;
    for (int i = 0; i < options.repeats && audio > 0.0; ++i) {
      const auto start = std::chrono::steady_clock::now();
      audio = speak_request(options);
      rtf.push_back(seconds_since(start) / audio);
    }
    if (audio <= 0.0) {
      std::printf("| %s | %d | failed | |\n", precision.name, threads);
      continue;
    }
    const Spread spread = spread_of(rtf);
    std::printf("| %s | %d | %.2f | %s |\n", precision.name, threads, audio,
                format_spread(spread, 3).c_str());
    const std::string configuration =
        std::string(precision.name) + " " + std::to_string(threads) + " threads";
    write_csv_row(options.csv, "tts rtf", configuration, spread);
    write_csv_row(options.csv, "tts audio s", configuration, {audio, audio, audio});
  }
  std::printf("\n");
}

void measure_first_audio(const Options &options) {
  const int threads = options.threads;
  std::printf("## Time to first audio through %s, %s, %d threads\n\n",
              request_function(options, true).c_str(), describe_request(options).c_str(), threads);
  std::printf("| precision | first chunk after, s |\n|---|---|\n");
  for (const auto &precision : options.precisions) {
    korva_set_precision(precision.id);
    std::vector<double> seconds;
    bool failed = seconds_to_first_audio(options) < 0.0;
    for (int i = 0; i < options.repeats && !failed; ++i) {
      seconds.push_back(seconds_to_first_audio(options));
      failed = seconds.back() < 0.0;
    }
    if (failed) {
      std::printf("| %s | failed |\n", precision.name);
      continue;
    }
    const Spread spread = spread_of(seconds);
    std::printf("| %s | %s |\n", precision.name, format_spread(spread, 3).c_str());
    write_csv_row(options.csv, "stream first audio s", precision.name, spread);
  }
  std::printf("\n");
}

void measure_stages(const Options &options) {
  const int threads = options.threads;
  // The paragraph to a file, so that the WAV writer is among the stages.
  const bool to_file = !uses_request_options(options);
  const std::string wav = std::filesystem::temp_directory_path() /
                          ("synthesis-bench-" + std::to_string(getpid()) + ".wav");
  const std::function<void()> request = [&] {
    if (to_file)
      korva_tts_to_file(kParagraph, wav.c_str(), 1.0f);
    else
      speak_request(options);
  };
  std::vector<std::string> columns;
  std::vector<std::vector<StageProfile>> runs;
  for (const auto &precision : options.precisions) {
    korva_set_precision(precision.id);
    request();
    columns.push_back(precision.name);
    runs.emplace_back();
    for (int i = 0; i < options.repeats; ++i) runs.back().push_back(profile_request(request));
  }
  std::filesystem::remove(wav);
  std::printf("## Time per stage of %s under the profiler, %s, %d threads\n\n",
              to_file ? "korva_tts_to_file" : request_function(options, false).c_str(),
              describe_request(options).c_str(), threads);
  print_stage_tables(columns, runs, kTopOperators, options.csv);
}
