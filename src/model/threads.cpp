#include "model/threads.h"

#include <torch/torch.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <utility>

namespace {

// Distinct (package, core) pairs of /proc/cpuinfo: hyper-threads share a core
// and gain little on convolution-bound work.
int physical_cores() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::set<std::pair<int, int>> cores;
  int package = 0;
  for (std::string line; std::getline(cpuinfo, line);) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    const int value = std::atoi(line.c_str() + colon + 1);
    if (line.rfind("physical id", 0) == 0) package = value;
    if (line.rfind("core id", 0) == 0) cores.insert({package, value});
  }
  if (!cores.empty()) return static_cast<int>(cores.size());
  const unsigned logical = std::thread::hardware_concurrency();
  return logical > 0 ? static_cast<int>(logical) : 1;
}

}  // namespace

int configure_threads() {
  const char *env = std::getenv("OMP_NUM_THREADS");
  const int requested = env ? std::atoi(env) : 0;
  const int threads = requested > 0 ? requested : physical_cores();
  if (torch::get_num_threads() != threads) torch::set_num_threads(threads);
  return threads;
}

SingleThreadScope::SingleThreadScope() { torch::set_num_threads(1); }

SingleThreadScope::~SingleThreadScope() { configure_threads(); }
