#pragma once
// Repeated work with a time limit on each repetition, in this process or in
// fresh processes of the test binary: a hang fails the test instead of
// stopping the test run.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace bounded_run {

// Set in the environment of the fresh processes.
constexpr const char *kChildVariable = "KORVA_TEST_BOUNDED_CHILD";

inline bool in_child() { return std::getenv(kChildVariable) != nullptr; }

// Runs `cycle` (returning "" or what went wrong) `count` times on a thread of
// its own. Returns "" or the first problem. A cycle that outlasts `limit`
// cannot be stopped from here: the process then ends with status 1 after a line
// on standard output (standard error may be captured by the cycle).
template <typename Cycle>
std::string cycles_within(int count, std::chrono::seconds limit, Cycle cycle) {
  std::mutex mutex;
  std::condition_variable changed;
  int finished = 0;
  std::string problem;
  std::thread worker([&] {
    for (int i = 0; i < count; ++i) {
      std::string result = cycle();
      const std::lock_guard<std::mutex> lock(mutex);
      if (!result.empty()) problem = "cycle " + std::to_string(i + 1) + ": " + result;
      ++finished;
      changed.notify_all();
      if (!problem.empty()) return;
    }
  });
  std::unique_lock<std::mutex> lock(mutex);
  for (int seen = 0; seen < count && problem.empty(); seen = finished) {
    if (!changed.wait_for(lock, limit, [&] { return finished > seen; })) {
      std::printf("cycle %d did not end within %lld s: hung\n", seen + 1,
                  static_cast<long long>(limit.count()));
      std::fflush(stdout);
      std::_Exit(1);
    }
  }
  lock.unlock();
  worker.join();
  return problem;
}

// Runs the disabled test `test` ("Suite.DISABLED_Name") of this binary in a
// fresh process, its output discarded; "" when it passed within `limit`, else
// what happened (a process past the limit is killed).
inline std::string child_within(const std::string &test, std::chrono::seconds limit) {
  std::string filter = "--gtest_filter=" + test;
  char disabled[] = "--gtest_also_run_disabled_tests";
  char self[] = "/proc/self/exe";
  char *argv[] = {self, filter.data(), disabled, nullptr};
  setenv(kChildVariable, "1", 1);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&quiet, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, self, &quiet, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&quiet);
  unsetenv(kChildVariable);
  if (spawned != 0) return "cannot start a process";
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) != pid) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return "hung (killed after " + std::to_string(limit.count()) + " s)";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "failed";
}

}  // namespace bounded_run
