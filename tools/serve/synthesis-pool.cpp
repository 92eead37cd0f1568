#include "synthesis-pool.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr int kOutputRate = 48000;  // korva_synthesize's rate with native_rate off

// What one job's audio callback sees.
struct Tally {
  AudioChannel *channel;
  int64_t max_samples;
  int64_t samples = 0;
  bool over = false;
};

int on_audio(const float *samples, int count, void *user) {
  Tally &tally = *static_cast<Tally *>(user);
  tally.samples += count;
  if (tally.samples > tally.max_samples) {
    tally.over = true;
    return 1;
  }
  return tally.channel->push(samples, static_cast<size_t>(count)) ? 0 : 1;
}

std::string seconds_text(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

}  // namespace

SynthesisPool::SynthesisPool(Config config)
    : config_(std::move(config)), loader_([this] { load(); }) {}

SynthesisPool::~SynthesisPool() {
  close();
  loader_.join();
  for (std::thread &worker : workers_) worker.join();
  shelf_.reset();
}

int SynthesisPool::failure_status(const std::string &reason) {
  const auto starts = [&](const char *prefix) { return reason.rfind(prefix, 0) == 0; };
  return starts("SSML:") || starts("Bad options:") ? 400 : 500;
}

bool SynthesisPool::wait_loaded(std::string *error) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !loading_; });
  *error = load_error_;
  return ready_;
}

Admission SynthesisPool::submit(SynthesisJob job) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return Admission::kClosed;
  if (!ready_) return Admission::kNotReady;
  if (queue_.size() >= config_.queue + (config_.workers - busy_)) return Admission::kFull;
  queue_.push_back(std::move(job));
  changed_.notify_one();
  return Admission::kQueued;
}

void SynthesisPool::close() {
  std::deque<SynthesisJob> waiting;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    waiting.swap(queue_);
    changed_.notify_all();
  }
  for (SynthesisJob &job : waiting) job.channel->finish(503, "the server is stopping");
}

size_t SynthesisPool::depth() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

void SynthesisPool::load() {
  std::unique_ptr<VoiceShelf> shelf;
  std::string error;
  try {
    shelf = config_.load();
  } catch (const std::exception &failure) {
    error = failure.what();
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  shelf_ = std::move(shelf);
  load_error_ = error;
  loading_ = false;
  if (shelf_ && !closed_) {
    for (size_t i = 0; i < config_.workers; ++i) workers_.emplace_back([this] { work(); });
  }
  ready_ = shelf_ != nullptr;
  changed_.notify_all();
}

bool SynthesisPool::next(SynthesisJob *job) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return closed_ || !queue_.empty(); });
  if (queue_.empty()) return false;
  *job = std::move(queue_.front());
  queue_.pop_front();
  ++busy_;  // under the lock, so that submit() never counts a job twice
  return true;
}

void SynthesisPool::speak(SynthesisJob &job) {
  AudioChannel &channel = *job.channel;
  if (!channel.take()) return;
  const int rate =
      job.options.native_rate ? shelf_->voices().at(job.voice).sample_rate : kOutputRate;
  Tally tally{&channel, static_cast<int64_t>(std::llround(job.max_audio_seconds * rate))};
  std::string reason;
  int status = 0;
  if (shelf_->synthesize(job.voice, job.text, job.options, on_audio, &tally, &reason) != 0) {
    status = failure_status(reason);
  } else if (tally.over) {
    status = 413;
    reason = "the request asks for more than " + seconds_text(job.max_audio_seconds) +
             " s of audio, the most this server speaks for one request";
  } else if (channel.cancelled()) {
    // Gone or stalled: the audio is incomplete, whoever still reads it.
    status = 500;
    reason = "the synthesis stopped: the client took no audio in time";
  }
  if (status != 0) ++failures_;
  channel.finish(status, reason);
}

void SynthesisPool::work() {
  SynthesisJob job;
  while (next(&job)) {
    speak(job);
    job = SynthesisJob{};  // the channel goes with the job; the reader may hold it longer
    --busy_;
  }
}
