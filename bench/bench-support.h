// Small helpers shared by the benchmarks: timing, the spread of repeated
// measurements and the process's resident memory.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

// Median and range of repeated measurements of one quantity.
struct Spread {
  double median = 0.0;
  double min = 0.0;
  double max = 0.0;
};

Spread spread_of(std::vector<double> values);

// "median [min, max]" with `decimals` digits after the point.
std::string format_spread(const Spread &spread, int decimals);

// One row of "quantity,configuration,median,min,max" for diffing runs of a
// benchmark; does nothing when `csv` is null.
void write_csv_row(FILE *csv, const std::string &quantity, const std::string &configuration,
                   const Spread &spread);

double seconds_since(std::chrono::steady_clock::time_point start);

// Peak resident memory (VmHWM) in MiB since the process started or since the
// last reset_peak_rss().
double peak_rss_mib();

// Resident memory right now (VmRSS), in MiB.
double current_rss_mib();

// Lowers the peak to the current resident size, so that a later peak_rss_mib()
// covers only what ran in between.
void reset_peak_rss();
