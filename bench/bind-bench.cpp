// Binding a full-size archive: manifest_open_path + manifest_bind_parameters into a
// module tree with the voice's parameter names, each repeat in a fresh child
// process so that its peak RSS is that of one load.
//   bind-bench ARCHIVE [REPEATS]
// Reports the median and range of wall and CPU time, and the peak RSS against the
// archive size, with the binder's own share (peak minus the RSS with the model
// built). Excluded: building the module tree. The binder's lines go to /dev/null.

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <torch/torch.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../tests/weights/module-tree.h"
#include "bench-support.h"
#include "weights/binder.h"
#include "weights/manifest.h"

namespace {

struct Run {
  double wall_s = 0, cpu_s = 0;  // open + bind
  double model_mib = 0;          // RSS with the model built, before binding
  double peak_mib = 0;           // peak RSS of the whole run
  int loaded = -1;
};

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// One load in this process; its figures are written to `fd`.
void child_run(const char *archive, int fd) {
  if (!std::freopen("/dev/null", "w", stderr)) std::_Exit(1);
  Run run;
  std::unique_ptr<Manifest> listed(manifest_open_path(archive));
  if (listed) {
    auto model = module_tree::make(module_tree::for_archive(*listed), 0.0f);
    listed.reset();
    run.model_mib = current_rss_mib();
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = cpu_seconds();
    std::unique_ptr<Manifest> opened(manifest_open_path(archive));
    run.loaded = opened ? manifest_bind_parameters(*opened, *model, remap_checkpoint_key) : -1;
    run.cpu_s = cpu_seconds() - cpu_start;
    run.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  const bool ok = write(fd, &run, sizeof run) == static_cast<ssize_t>(sizeof run);
  std::_Exit(ok ? 0 : 1);
}

bool measure(const char *archive, Run &run) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return false;
  const pid_t pid = fork();
  if (pid == 0) child_run(archive, pipe_fds[1]);
  close(pipe_fds[1]);
  const bool got = read(pipe_fds[0], &run, sizeof run) == static_cast<ssize_t>(sizeof run);
  close(pipe_fds[0]);
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return false;
  run.peak_mib = usage.ru_maxrss / 1024.0;
  return got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bind-bench ARCHIVE [REPEATS]\n");
    return 2;
  }
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  struct stat info {};
  if (stat(argv[1], &info) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  const double archive_mib = info.st_size / 1048576.0;

  std::vector<double> wall, cpu, model, peak, binder;
  int loaded = -1;
  for (int i = 0; i < repeats; ++i) {
    Run run;
    if (!measure(argv[1], run) || run.loaded <= 0) {
      std::fprintf(stderr, "bind-bench: run %d failed (loaded %d)\n", i, run.loaded);
      return 1;
    }
    loaded = run.loaded;
    wall.push_back(run.wall_s);
    cpu.push_back(run.cpu_s);
    model.push_back(run.model_mib);
    peak.push_back(run.peak_mib);
    binder.push_back(run.peak_mib - run.model_mib);
  }
  std::vector<double> ratio;
  for (const double p : peak) ratio.push_back(p / archive_mib);

  std::printf("| bind-bench, median [min, max] of %d runs | value |\n|---|---|\n", repeats);
  std::printf("| libtorch | %s, %d threads |\n", TORCH_VERSION, torch::get_num_threads());
  std::printf("| archive | %.0f MiB, %d parameters loaded |\n", archive_mib, loaded);
  std::printf("| open + bind wall time | %s |\n",
              (format_spread(spread_of(wall), 3) + " s").c_str());
  std::printf("| open + bind CPU time | %s |\n", (format_spread(spread_of(cpu), 3) + " s").c_str());
  std::printf("| RSS with the model built | %s |\n",
              (format_spread(spread_of(model), 0) + " MiB").c_str());
  std::printf("| peak RSS | %s |\n", (format_spread(spread_of(peak), 0) + " MiB").c_str());
  std::printf("| peak RSS / archive size | %s |\n", format_spread(spread_of(ratio), 2).c_str());
  std::printf("| binder's share of the peak | %s |\n",
              (format_spread(spread_of(binder), 0) + " MiB").c_str());
  return 0;
}
