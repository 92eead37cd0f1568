#include "model/threads.h"

#include <ATen/Parallel.h>
#include <omp.h>

#include <algorithm>
#include <atomic>
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

std::atomic<int> running_requests{0};

// The count a request that starts now gets; it counts itself.
int claim_threads(int configured) {
  const int running = ++running_requests;
  if (configured > 0) return configured;
  return std::max(1, default_threads() / running);
}

}  // namespace

int default_threads() {
  static const int threads = [] {
    const char *env = std::getenv("OMP_NUM_THREADS");
    const int requested = env ? std::atoi(env) : 0;
    return requested > 0 ? requested : physical_cores();
  }();
  return threads;
}

ThreadScope::ThreadScope(int threads) {
  // The tensor library resets a thread's count to its default on the thread's
  // first parallel loop: done now, so that it cannot later undo what is set here.
  // Its loops are templates, and the flag that says "done" is a thread-local of
  // an inline function, of which libkorva has a copy of its own (its symbols stay
  // inside it): both are set, libtorch's and this library's.
  at::get_num_threads();
  at::internal::lazy_init_num_threads();
  saved_ = omp_get_max_threads();
  omp_set_num_threads(threads);
}

ThreadScope::~ThreadScope() { omp_set_num_threads(saved_); }

RequestThreads::RequestThreads(int configured)
    : threads_(claim_threads(configured)), scope_(threads_) {}

RequestThreads::~RequestThreads() { --running_requests; }

int RequestThreads::running() { return running_requests; }
