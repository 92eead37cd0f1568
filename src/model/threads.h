#pragma once
// Intra-op threads for the tensor library: all physical cores, unless the
// host chose a number through OMP_NUM_THREADS. Returns the count in use.
int configure_threads();

// One intra-op thread for the scope's life, configure_threads() at its end.
// Loading a voice is copies and small reductions, which more threads do not
// speed up: they add a fork and a join to each, and on a busy machine the join
// waits for a thread that is not running (a 0.4 s load took 2 to 7 s on 2 threads).
class SingleThreadScope {
 public:
  SingleThreadScope();
  ~SingleThreadScope();
  SingleThreadScope(const SingleThreadScope &) = delete;
  SingleThreadScope &operator=(const SingleThreadScope &) = delete;
};
