#pragma once
// The threads that speak: they take requests, HTTP's and Wyoming's alike,
// from one bounded queue and speak each through the voice shelf, handing the
// audio to the request's channel. The shelf is loaded on a thread of its own
// first, so that the server answers (503 "loading") meanwhile.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio-channel.h"
#include "korva.h"
#include "voice-shelf.h"

struct SynthesisJob {
  size_t voice = 0;  // number on the shelf
  std::string text;
  korva_options options;
  double max_audio_seconds = 0;  // longer: stopped, and refused with 413
  std::shared_ptr<AudioChannel> channel;  // also keeps the time the job may wait
};

enum class Admission { kQueued, kFull, kClosed, kNotReady };

class SynthesisPool {
 public:
  struct Config {
    std::function<std::unique_ptr<VoiceShelf>()> load;  // throws std::runtime_error
    size_t workers = 1;                 // requests spoken at once
    size_t queue = 4;  // requests that may wait for a worker
  };

  // Starts loading at once; the workers start once the shelf is loaded.
  explicit SynthesisPool(Config config);
  // Closes the queue, lets the running jobs finish, then releases the voices.
  ~SynthesisPool();
  SynthesisPool(const SynthesisPool &) = delete;
  SynthesisPool &operator=(const SynthesisPool &) = delete;

  // Waits for the load; false (with the reason in *error) when it failed.
  bool wait_loaded(std::string *error);
  bool ready() const { return ready_; }
  // Only once ready().
  const VoiceShelf &shelf() const { return *shelf_; }

  // Queues `job` unless the queue is full, closed or the voices not loaded yet.
  Admission submit(SynthesisJob job);
  // Refuses new jobs and ends the waiting ones with 503; the running ones go on.
  void close();

  size_t depth() const;  // jobs waiting
  size_t busy() const { return busy_; }
  size_t workers() const { return config_.workers; }
  // Syntheses that failed, were refused or were stopped short (not counting
  // those refused for waiting too long).
  uint64_t failures() const { return failures_; }

  // The HTTP status of a failed synthesis from the library's reason: the
  // client's markup or options are the client's fault (400); anything else is
  // the engine's (500).
  static int failure_status(const std::string &reason);

 private:
  void load();
  void work();
  // The next job, or false once closed and empty.
  bool next(SynthesisJob *job);
  void speak(SynthesisJob &job);

  const Config config_;
  std::unique_ptr<VoiceShelf> shelf_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<SynthesisJob> queue_;
  bool loading_ = true;
  bool closed_ = false;
  std::string load_error_;
  std::atomic<bool> ready_{false};
  std::atomic<size_t> busy_{0};
  std::atomic<uint64_t> failures_{0};
  std::vector<std::thread> workers_;
  std::thread loader_;  // last: starts once the rest is built
};
