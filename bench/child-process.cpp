#include "child-process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

std::optional<std::string> run_self(const std::vector<std::string> &args) {
  std::vector<char *> argv{const_cast<char *>("/proc/self/exe")};
  for (const auto &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);

  int out[2];
  if (pipe(out) != 0) return std::nullopt;
  std::fflush(nullptr);  // or the child would repeat what is still buffered
  const pid_t pid = fork();
  if (pid < 0) {
    close(out[0]);
    close(out[1]);
    return std::nullopt;
  }
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(out[1], STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    close(out[0]);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  std::string output;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) != 0;) {
    if (n > 0)
      output.append(buffer, static_cast<size_t>(n));
    else if (errno != EINTR)
      break;
  }
  close(out[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return output;
}
