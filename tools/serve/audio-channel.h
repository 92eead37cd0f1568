#pragma once
// The bounded hand-off of one request's audio from the synthesis worker to the
// thread answering it. The worker waits while the channel is full (a slow
// client slows its own synthesis, not the server's memory); either side can
// end it: the worker with the synthesis' outcome, the reader by going away, or
// by giving up on a request that no worker took within the wait limit.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

class AudioChannel {
 public:
  // `wait_limit`: the longest a request waits for a worker to take it (counted
  // from now), and the longest the worker waits for the reader to take a chunk.
  AudioChannel(size_t capacity, std::chrono::milliseconds wait_limit)
      : capacity_(capacity),
        wait_limit_(wait_limit),
        take_by_(std::chrono::steady_clock::now() + wait_limit) {}

  // Worker side: the job is taken up. False when the reader has gone or has
  // already given up waiting for it (503): skip the job.
  bool take();
  // Returns false, and the synthesis should stop, once the reader has gone or
  // has taken nothing for the wait limit.
  bool push(const float *samples, size_t count);
  // The end of the audio: status 0 when it is all there, else an HTTP status
  // and the reason.
  void finish(int status, const std::string &message);

  enum class Event { kChunk, kEnd };
  // Reader side: waits for the next chunk (moved into *chunk) or the end, which
  // comes with 503 when no worker took the job in time.
  Event pop(std::vector<float> *chunk);
  // The reader is gone: later pushes fail.
  void cancel();

  bool cancelled() const;
  // After kEnd: 0, or the status and reason given to finish().
  int status() const;
  std::string message() const;

 private:
  const size_t capacity_;  // chunks
  const std::chrono::milliseconds wait_limit_;
  const std::chrono::steady_clock::time_point take_by_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<float>> chunks_;
  bool taken_ = false;
  bool finished_ = false;
  bool cancelled_ = false;
  int status_ = 0;
  std::string message_;
};
