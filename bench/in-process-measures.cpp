#include "in-process-measures.h"

#include <torch/torch.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench-support.h"
#include "stage-profile.h"
#include "synthesis-texts.h"

namespace {

constexpr int kTopOperators = 8;

// Seconds of audio in one request, or -1 when it failed.
double speak_paragraph() {
  int n = 0;
  float *samples = korva_tts(kParagraph, &n, 1.0f);
  free(samples);
  return samples ? n / kSampleRate : -1.0;
}

struct FirstChunk {
  std::chrono::steady_clock::time_point start;
  double seconds = -1.0;
};

// Stops the synthesis at the first chunk: the rest does not change the figure.
int on_chunk(const float *, int, void *user) {
  auto *first = static_cast<FirstChunk *>(user);
  first->seconds = seconds_since(first->start);
  return 1;
}

double seconds_to_first_chunk() {
  FirstChunk first{std::chrono::steady_clock::now()};
  const int status = korva_tts_stream(kParagraph, 1.0f, on_chunk, &first);
  return status == 0 ? first.seconds : -1.0;
}

}  // namespace

void measure_rtf(const Options &options) {
  std::printf("## korva_tts real-time factor, ~10 s paragraph\n\n");
  std::printf("| precision | threads | audio, s | RTF |\n|---|---|---|---|\n");
  for (const auto &precision : options.precisions) {
    korva_set_precision(precision.id);
    for (int threads : options.threads) {
      torch::set_num_threads(threads);
      double audio = speak_paragraph();
      std::vector<double> rtf;
      for (int i = 0; i < options.repeats && audio > 0.0; ++i) {
        const auto start = std::chrono::steady_clock::now();
        audio = speak_paragraph();
        rtf.push_back(seconds_since(start) / audio);
      }
      if (audio <= 0.0) {
        std::printf("| %s | %d | failed | |\n", precision.name, threads);
        continue;
      }
      const Spread spread = spread_of(rtf);
      std::printf("| %s | %d | %.2f | %s |\n", precision.name, threads, audio,
                  format_spread(spread, 3).c_str());
      write_csv_row(options.csv, "tts rtf",
                    std::string(precision.name) + " " + std::to_string(threads) + " threads",
                    spread);
    }
  }
  std::printf("\n");
}

void measure_first_audio(const Options &options) {
  const int threads = options.threads.front();
  torch::set_num_threads(threads);
  std::printf("## Time to first audio through korva_tts_stream, %d threads\n\n", threads);
  std::printf("| precision | first chunk after, s |\n|---|---|\n");
  for (const auto &precision : options.precisions) {
    korva_set_precision(precision.id);
    std::vector<double> seconds;
    bool failed = seconds_to_first_chunk() < 0.0;
    for (int i = 0; i < options.repeats && !failed; ++i) {
      seconds.push_back(seconds_to_first_chunk());
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
  const int threads = options.threads.front();
  torch::set_num_threads(threads);
  // To a file, so that the WAV writer is among the stages.
  const std::string wav = std::filesystem::temp_directory_path() /
                          ("synthesis-bench-" + std::to_string(getpid()) + ".wav");
  const auto request = [&wav] { korva_tts_to_file(kParagraph, wav.c_str(), 1.0f); };
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
  std::printf(
      "## Time per stage of korva_tts_to_file under the profiler, ~10 s paragraph, %d threads\n\n",
      threads);
  print_stage_tables(columns, runs, kTopOperators, options.csv);
}
