#pragma once
// What the request handlers share: the synthesis threads, the counters and
// the server's settings.

#include <atomic>

#include "in-flight.h"
#include "metrics.h"
#include "server-options.h"
#include "synthesis-pool.h"

struct ServerContext {
  const ServerOptions &options;
  SynthesisPool &pool;
  Metrics &metrics;
  InFlight &in_flight;
  std::atomic<bool> stopping{false};  // after SIGTERM / SIGINT

  Metrics::Synthesis synthesis_state() const {
    return {pool.failures(), pool.depth(), pool.busy(), pool.workers()};
  }
};
