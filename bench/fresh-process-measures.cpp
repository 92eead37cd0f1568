#include "fresh-process-measures.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "bench-support.h"
#include "child-process.h"
#include "synthesis-request.h"
#include "synthesis-texts.h"

namespace {

constexpr const char *kTexts[] = {"short", "long"};

// The numbers a child printed, or an empty list when it failed.
std::vector<double> run_child(const std::vector<std::string> &args) {
  std::vector<double> values;
  if (const auto output = run_self(args)) {
    std::stringstream stream(*output);
    for (double value; stream >> value;) values.push_back(value);
  }
  return values;
}

std::vector<float> read_samples(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<float> samples(std::filesystem::file_size(path) / sizeof(float));
  in.read(reinterpret_cast<char *>(samples.data()),
          static_cast<std::streamsize>(samples.size() * sizeof(float)));
  return samples;
}

// Signal to noise ratio of `test` against `reference`, in dB; NaN when the
// lengths differ.
double snr_db(const std::vector<float> &reference, const std::vector<float> &test) {
  if (reference.size() != test.size() || reference.empty()) return NAN;
  double signal = 0.0, noise = 0.0;
  for (size_t i = 0; i < reference.size(); ++i) {
    const double error = double(reference[i]) - test[i];
    signal += double(reference[i]) * reference[i];
    noise += error * error;
  }
  return noise > 0.0 ? 10.0 * std::log10(signal / noise) : INFINITY;
}

void print_snr(const Options &options, const std::string &scratch) {
  for (const std::string text : kTexts) {
    const std::string reference = scratch + "fp32-" + text;
    for (const auto &precision : options.precisions) {
      const std::string test = scratch + precision.name + "-" + text;
      if (test == reference || !std::filesystem::exists(test) ||
          !std::filesystem::exists(reference))
        continue;
      // Both are peak-normalised, each by its own peak: a gain difference counts as noise.
      const double snr = snr_db(read_samples(reference), read_samples(test));
      std::printf("SNR of %s against fp32, %s text: %.1f dB%s\n", precision.name, text.c_str(), snr,
                  std::isinf(snr)   ? " (identical samples)"
                  : std::isnan(snr) ? " (lengths differ)"
                                    : "");
      write_csv_row(options.csv, "snr against fp32 dB", std::string(precision.name) + " " + text,
                    {snr, snr, snr});
    }
  }
  std::printf("\n");
}

}  // namespace

int child_load(const std::string &voice) {
  // A child's log goes nowhere (child-process.h): spare the engine its statistics.
  korva_set_log_level(KORVA_LOG_WARNING);
  const double before = current_rss_mib();
  const auto start = std::chrono::steady_clock::now();
  if (korva_load(voice.c_str(), nullptr) != 0) return 1;
  std::printf("%f %f %f\n", seconds_since(start), before, peak_rss_mib());
  return 0;
}

int child_synth(const std::string &voice, int precision, const std::string &text,
                const std::string &out) {
  korva_set_log_level(KORVA_LOG_WARNING);
  if (korva_set_precision(precision) != 0 || korva_load(voice.c_str(), nullptr) != 0) return 1;
  reset_peak_rss();
  int n = 0;
  float *samples = korva_tts(text == "long" ? kLongText : kParagraph, &n, 1.0f);
  if (!samples) return 1;
  const double peak = peak_rss_mib();
  std::ofstream(out, std::ios::binary)
      .write(reinterpret_cast<const char *>(samples),
             static_cast<std::streamsize>(n) * static_cast<std::streamsize>(sizeof(float)));
  free(samples);
  std::printf("%f %f\n", n / kSampleRate, peak);
  return 0;
}

void measure_load(const Options &options) {
  const double archive_mib = std::filesystem::file_size(options.voice) / 1048576.0;
  run_child({"--child-load", options.voice});  // brings the archive into the page cache
  std::vector<double> seconds, before, peak, ratio;
  for (int i = 0; i < options.repeats; ++i) {
    const auto values = run_child({"--child-load", options.voice});
    if (values.size() != 3) {
      std::printf("korva_load failed in the child process\n\n");
      return;
    }
    seconds.push_back(values[0]);
    before.push_back(values[1]);
    peak.push_back(values[2]);
    ratio.push_back(values[2] / archive_mib);
  }
  std::printf("## korva_load in a fresh process, archive of %.0f MiB in the page cache\n\n",
              archive_mib);
  std::printf("| | median [min, max] |\n|---|---|\n");
  const auto row = [&](const char *quantity, const std::vector<double> &values, int decimals) {
    const Spread spread = spread_of(values);
    std::printf("| %s | %s |\n", quantity, format_spread(spread, decimals).c_str());
    write_csv_row(options.csv, std::string("load ") + quantity, "", spread);
  };
  row("time, s", seconds, 3);
  row("peak RSS, MiB", peak, 0);
  row("peak RSS / archive size", ratio, 2);
  row("RSS before the load, MiB", before, 0);
  std::printf("\n");
}

void measure_memory(const Options &options) {
  // The children speak the two fixed texts at 48 kHz.
  if (uses_request_options(options)) {
    std::printf(
        "## Peak RSS: measured on the fixed texts at 48 kHz only, not with --ids or "
        "--rate native\n\n");
    return;
  }
  const int threads = options.threads;
  const std::string scratch = std::filesystem::temp_directory_path() /
                              ("synthesis-bench-" + std::to_string(getpid()) + "-");
  std::printf("## Peak RSS during korva_tts in a fresh process, %d threads\n\n", threads);
  std::printf("| precision | text | audio, s | peak RSS, MiB | / short text |\n");
  std::printf("|---|---|---|---|---|\n");
  for (const auto &precision : options.precisions) {
    double short_peak = NAN;
    for (const std::string text : kTexts) {
      std::vector<double> audio, peak;
      for (int i = 0; i < options.memory_repeats; ++i) {
        const auto values =
            run_child({"--child-synth", options.voice, std::to_string(precision.id), text,
                       scratch + precision.name + "-" + text});
        if (values.size() != 2) break;
        audio.push_back(values[0]);
        peak.push_back(values[1]);
      }
      if (peak.empty()) {
        std::printf("| %s | %s | failed | | |\n", precision.name, text.c_str());
        continue;
      }
      const Spread spread = spread_of(peak);
      if (text == "short") short_peak = spread.median;
      std::printf("| %s | %s | %.2f | %s | %.3f |\n", precision.name, text.c_str(), audio.front(),
                  format_spread(spread, 0).c_str(), spread.median / short_peak);
      write_csv_row(options.csv, "tts peak RSS MiB", std::string(precision.name) + " " + text,
                    spread);
    }
  }
  std::printf("\n");
  // Every child's request had seed 0, so the precisions drew the same noise.
  print_snr(options, scratch);
  for (const auto &precision : options.precisions)
    for (const std::string text : kTexts)
      std::filesystem::remove(scratch + precision.name + "-" + text);
}
