#pragma once
// SIGTERM and SIGINT as an event the server waits for, rather than as
// handlers interrupting whichever thread: built before any other thread, so
// that every thread inherits the blocked mask. Also ignores SIGPIPE, which a
// write to a client that hung up would otherwise raise.

class StopSignals {
 public:
  StopSignals();
  // Waits for SIGTERM or SIGINT; returns its name.
  const char *wait();
};
