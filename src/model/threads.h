#pragma once
// Intra-op threads of the tensor library, budgeted per request: each request
// sets the count for its own thread only (OpenMP's setting of the calling
// thread, which every operator it starts follows), never the library's
// process-wide count, which the host and the other requests share.

// All physical cores, unless the host chose a number through OMP_NUM_THREADS.
int default_threads();

// This thread's operators use `threads` threads for the scope's life.
class ThreadScope {
 public:
  explicit ThreadScope(int threads);
  ~ThreadScope();
  ThreadScope(const ThreadScope &) = delete;
  ThreadScope &operator=(const ThreadScope &) = delete;

 private:
  int saved_;
};

// One request's threads, counted among the requests running for its life:
// `configured` when it is positive, else default_threads() shared among the
// requests running as it starts (at least one each), so that N requests at
// once on C cores use about C threads, not N x C.
class RequestThreads {
 public:
  explicit RequestThreads(int configured);
  ~RequestThreads();
  RequestThreads(const RequestThreads &) = delete;
  RequestThreads &operator=(const RequestThreads &) = delete;

  int threads() const { return threads_; }
  static int running();

 private:
  int threads_;
  ThreadScope scope_;
};
