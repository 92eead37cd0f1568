#pragma once
// The one thread that owns the engine: it loads the voice, then takes the
// requests one at a time from a bounded queue. The engine has one voice per
// process and serialises its calls, so a second synthesis thread would only wait.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "audio-channel.h"
#include "speech-request.h"
#include "voice-card.h"

struct SynthesisJob {
  SpeechRequest request;
  std::shared_ptr<AudioChannel> channel;
  std::chrono::steady_clock::time_point queued_at = std::chrono::steady_clock::now();
};

enum class Admission { kQueued, kFull, kClosed, kNotReady };

class SynthesisWorker {
 public:
  struct Config {
    std::string voice;
    std::string espeak_data;            // empty: espeak-ng's own
    size_t queue = 4;                   // jobs that may wait behind the running one
    std::chrono::seconds max_wait{30};  // longer in the queue: the job is refused (503)
  };

  // Starts the thread, which loads the voice at once.
  explicit SynthesisWorker(Config config);
  // Closes the queue, finishes the running job and unloads the voice.
  ~SynthesisWorker();
  SynthesisWorker(const SynthesisWorker &) = delete;
  SynthesisWorker &operator=(const SynthesisWorker &) = delete;

  // Waits for the load; false (with the reason in *error) when it failed.
  bool wait_loaded(std::string *error);
  bool ready() const { return ready_; }
  // The loaded voice; only once ready().
  const VoiceCard &voice() const { return voice_; }

  // Queues `job` unless the queue is full, closed or the voice not loaded yet.
  Admission submit(SynthesisJob job);
  // Refuses new jobs and ends the waiting ones with 503; the running one goes on.
  void close();

  size_t depth() const;  // jobs waiting
  bool busy() const { return busy_; }

 private:
  void run();
  bool load();
  // The next job, or false once closed and empty.
  bool next(SynthesisJob *job);
  void synthesise(SynthesisJob &job);

  const Config config_;
  VoiceCard voice_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<SynthesisJob> queue_;
  bool loading_ = true;
  bool closed_ = false;
  std::string load_error_;
  std::atomic<bool> ready_{false};
  std::atomic<bool> busy_{false};
  std::thread thread_;  // last: starts once the rest is built
};
