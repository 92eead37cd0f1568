#include "system-header.h"

#include <torch/version.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "model/cpu-features.h"

namespace {

std::string cpu_model() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);)
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  return "unknown";
}

// The files actually mapped, not what the alternatives links say: libblas.so.3
// resolves to whichever implementation Debian's alternatives picked.
std::string mapped_blas() {
  std::ifstream maps("/proc/self/maps");
  std::set<std::string> paths;
  for (std::string line; std::getline(maps, line);) {
    const auto slash = line.find('/');
    if (slash == std::string::npos) continue;
    const std::string path = line.substr(slash);
    const std::string file = path.substr(path.rfind('/') + 1);
    if (file.find("blas") != std::string::npos || file.find("mkl") != std::string::npos)
      paths.insert(path);
  }
  std::string joined;
  for (const auto &path : paths) joined += (joined.empty() ? "" : ", ") + path;
  return joined.empty() ? "none mapped" : joined;
}

// Read at run time rather than configure time, so a rebuild without
// reconfiguring cannot report a stale commit.
std::string commit() {
  const std::string command =
      "git -C '" KORVA_SOURCE_DIR "' describe --always --dirty --abbrev=7 2>/dev/null";
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe) return "unknown";
  char text[64] = {};
  const bool read = std::fgets(text, sizeof text, pipe) != nullptr;
  const int status = pclose(pipe);
  std::string line = read && status == 0 ? text : "";
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line.empty() ? "unknown" : line;
}

}  // namespace

void print_system_header(const std::string &threads) {
  std::printf("| | |\n|---|---|\n");
  std::printf("| CPU | %s (%u logical CPUs) |\n", cpu_model().c_str(),
              std::thread::hardware_concurrency());
  const CpuFeatures features = cpu_features();
  const std::string missing = bfloat16_missing(features);
  std::printf("| CPU features | %s%s |\n", describe_cpu_features(features).c_str(),
              missing.empty() ? " (native bfloat16)" : " (no native bfloat16)");
  std::printf("| libtorch | %s |\n", TORCH_VERSION);
  std::printf("| BLAS | %s |\n", mapped_blas().c_str());
  std::printf("| intra-op threads | %s |\n", threads.c_str());
  std::printf("| commit | %s |\n\n", commit().c_str());
}
