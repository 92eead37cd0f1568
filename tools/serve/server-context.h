#pragma once
// What the request handlers share: the engine's worker, the counters and the
// server's settings.

#include <atomic>

#include "in-flight.h"
#include "metrics.h"
#include "server-options.h"
#include "synthesis-worker.h"

struct ServerContext {
  const ServerOptions &options;
  SynthesisWorker &worker;
  Metrics &metrics;
  InFlight &in_flight;
  std::atomic<bool> stopping{false};  // after SIGTERM / SIGINT
};
