#pragma once
// The bounded hand-off of one request's audio from the synthesis worker to the
// HTTP thread answering it. The worker waits while the channel is full (a slow
// client slows its own synthesis, not the server's memory); either side can
// end it: the worker with the synthesis' outcome, the reader by going away.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

class AudioChannel {
 public:
  AudioChannel(size_t capacity, std::chrono::milliseconds stall_limit)
      : capacity_(capacity), stall_limit_(stall_limit) {}

  // Worker side. Returns false, and the synthesis should stop, once the reader
  // has gone or has taken nothing for the stall limit.
  bool push(const float *samples, size_t count);
  // The end of the audio: status 0 when it is all there, else an HTTP status
  // and the reason.
  void finish(int status, const std::string &message);

  enum class Event { kChunk, kEnd };
  // Reader side: waits for the next chunk (moved into *chunk) or the end.
  Event pop(std::vector<float> *chunk);
  // The reader is gone: later pushes fail.
  void cancel();

  bool cancelled() const;
  // After kEnd: 0, or the status and reason given to finish().
  int status() const;
  std::string message() const;

 private:
  const size_t capacity_;  // chunks
  const std::chrono::milliseconds stall_limit_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<float>> chunks_;
  bool finished_ = false;
  bool cancelled_ = false;
  int status_ = 0;
  std::string message_;
};
