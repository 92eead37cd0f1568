// The engine through its C API: load, real-time factor, time to first audio,
// peak memory and time per stage, in fp32 and (where the CPU has it) bf16.
// Each figure is the median [min, max] of repeated runs. Excluded from the
// synthesis timings: the load and one warm-up request per configuration.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bench-support.h"
#include "fresh-process-measures.h"
#include "in-process-measures.h"
#include "synthesis-options.h"
#include "system-header.h"

namespace {

constexpr const char *kUsage =
    "usage: synthesis-bench VOICE.pt [options]\n"
    "  --repeats N          runs per figure (3)\n"
    "  --memory-repeats N   runs per figure of the memory section (1)\n"
    "  --threads N          intra-op threads of each request (2), through\n"
    "                       OMP_NUM_THREADS\n"
    "  --precisions LIST    fp32, bf16 (both)\n"
    "  --only LIST          load, rtf, stream, memory, stages (all)\n"
    "  --csv FILE           also write the figures to FILE as CSV\n"
    "  --ids 0,12,0,...     speak these framed token ids (korva_synthesize_ids)\n"
    "                       instead of the paragraph\n"
    "  --rate 48000|native  the output rate of the rtf, stream and stages sections\n"
    "                       (48000)\n"
    "  --seed N             seed of every request given --ids or --rate native\n"
    "                       (the process-wide counter)\n"
    "  --log                keep the engine's whole log on standard error (and its\n"
    "                       statistics' cost in the figures)\n";

std::vector<std::string> split(const std::string &list) {
  std::vector<std::string> items;
  std::stringstream stream(list);
  for (std::string item; std::getline(stream, item, ',');)
    if (!item.empty()) items.push_back(item);
  return items;
}

std::set<std::string> split_set(const std::string &list) {
  const auto items = split(list);
  return {items.begin(), items.end()};
}

struct Section {
  const char *name;
  void (*measure)(const Options &);
  bool needs_voice;  // measured on a voice loaded in this process
};

bool parse(const std::vector<std::string> &args, Options &options, std::string &csv_path) {
  for (size_t i = 0; i < args.size(); ++i) {
    const bool has_value = i + 1 < args.size();
    if (args[i] == "--log") {
      options.log = true;
    } else if (args[i] == "--repeats" && has_value) {
      options.repeats = std::max(1, std::atoi(args[++i].c_str()));
    } else if (args[i] == "--memory-repeats" && has_value) {
      options.memory_repeats = std::max(1, std::atoi(args[++i].c_str()));
    } else if (args[i] == "--threads" && has_value) {
      options.threads = std::atoi(args[++i].c_str());
    } else if (args[i] == "--precisions" && has_value) {
      options.precision_names = split_set(args[++i]);
    } else if (args[i] == "--csv" && has_value) {
      csv_path = args[++i];
    } else if (args[i] == "--ids" && has_value) {
      for (const auto &id : split(args[++i])) options.ids.push_back(std::atoi(id.c_str()));
    } else if (args[i] == "--rate" && has_value &&
               (args[i + 1] == "native" || args[i + 1] == "48000")) {
      options.native_rate = args[++i] == "native";
    } else if (args[i] == "--seed" && has_value) {
      options.seed = std::max(0LL, std::atoll(args[++i].c_str()));
    } else if (args[i] == "--only" && has_value) {
      options.sections = split_set(args[++i]);
    } else if (options.voice.empty() && args[i].rfind("--", 0) != 0) {
      options.voice = args[i];
    } else {
      return false;
    }
  }
  return !options.voice.empty() && options.threads > 0;
}

}  // namespace

int main(int argc, char **argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "--child-load") return child_load(args[1]);
  if (args.size() == 5 && args[0] == "--child-synth")
    return child_synth(args[1], std::atoi(args[2].c_str()), args[3], args[4]);

  Options options;
  std::string csv_path;
  if (!parse(args, options, csv_path)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (!csv_path.empty()) {
    options.csv = std::fopen(csv_path.c_str(), "w");
    if (!options.csv) {
      std::perror(csv_path.c_str());
      return 1;
    }
    std::fprintf(options.csv, "quantity,configuration,median,min,max\n");
  }
  // The engine logs every request on standard error. Without --log it runs as a
  // quiet host runs it: warnings only, and none of the statistics behind the
  // other lines computed.
  if (!options.log) {
    if (!std::freopen("/dev/null", "w", stderr)) return 1;
    korva_set_log_level(KORVA_LOG_WARNING);
  }
  for (const auto &precision : kPrecisions) {
    if (!options.precision_names.count(precision.name)) continue;
    if (korva_set_precision(precision.id) == 0)
      options.precisions.push_back(precision);
    else
      std::printf("%s: refused by korva_set_precision, not measured\n", precision.name);
  }
  // Read by the engine on its first request and inherited by the fresh processes.
  setenv("OMP_NUM_THREADS", std::to_string(options.threads).c_str(), 1);
  print_system_header(std::to_string(options.threads));

  // Fresh-process sections first, while this process holds no voice.
  const Section sections[] = {{"load", measure_load, false},
                              {"memory", measure_memory, false},
                              {"rtf", measure_rtf, true},
                              {"stream", measure_first_audio, true},
                              {"stages", measure_stages, true}};
  bool loaded = false;
  for (const auto &section : sections) {
    if (!options.sections.count(section.name)) continue;
    if (section.needs_voice && !loaded) {
      if (korva_load(options.voice.c_str(), nullptr) != 0) {
        std::printf("korva_load failed on %s (--log shows why)\n", options.voice.c_str());
        return 1;
      }
      loaded = true;
    }
    section.measure(options);
    std::fflush(stdout);  // a section can take minutes: show each as it ends
  }
  // What this process held at its peak: the voice, and the requests of the sections run here.
  const double peak = peak_rss_mib();
  write_csv_row(options.csv, "process peak RSS MiB", "", {peak, peak, peak});
  korva_unload();
  if (options.csv) std::fclose(options.csv);
  return 0;
}
