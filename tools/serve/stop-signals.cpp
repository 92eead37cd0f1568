#include "stop-signals.h"

#include <pthread.h>

#include <csignal>

namespace {

sigset_t stop_set() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

}  // namespace

StopSignals::StopSignals() {
  const sigset_t set = stop_set();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

const char *StopSignals::wait() {
  const sigset_t set = stop_set();
  int number = 0;
  while (sigwait(&set, &number) != 0) {
  }
  return number == SIGINT ? "SIGINT" : "SIGTERM";
}
