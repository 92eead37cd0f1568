#include "bench-support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {

// A "Name:   123 kB" line of /proc/self/status, in MiB.
double status_mib(const char *name) {
  std::ifstream status("/proc/self/status");
  const std::string prefix = std::string(name) + ":";
  for (std::string line; std::getline(status, line);)
    if (line.rfind(prefix, 0) == 0) return std::atof(line.c_str() + prefix.size()) / 1024.0;
  return 0.0;
}

// Quoted when it holds a comma or a quote ("load time, s"), its quotes doubled.
std::string csv_field(const std::string &text) {
  if (text.find_first_of(",\"") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

}  // namespace

Spread spread_of(std::vector<double> values) {
  if (values.empty()) return {};
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  const double median = values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
  return {median, values.front(), values.back()};
}

std::string format_spread(const Spread &spread, int decimals) {
  char text[96];
  std::snprintf(text, sizeof text, "%.*f [%.*f, %.*f]", decimals, spread.median, decimals,
                spread.min, decimals, spread.max);
  return text;
}

void write_csv_row(FILE *csv, const std::string &quantity, const std::string &configuration,
                   const Spread &spread) {
  if (csv)
    std::fprintf(csv, "%s,%s,%.6g,%.6g,%.6g\n", csv_field(quantity).c_str(),
                 csv_field(configuration).c_str(), spread.median, spread.min, spread.max);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double peak_rss_mib() { return status_mib("VmHWM"); }

double current_rss_mib() { return status_mib("VmRSS"); }

void reset_peak_rss() { std::ofstream("/proc/self/clear_refs") << "5"; }
