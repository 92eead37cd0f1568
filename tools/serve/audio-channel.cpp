#include "audio-channel.h"

bool AudioChannel::take() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (cancelled_ || finished_) return false;
  taken_ = true;
  return true;
}

bool AudioChannel::push(const float *samples, size_t count) {
  std::unique_lock<std::mutex> lock(mutex_);
  const bool room = changed_.wait_for(lock, wait_limit_,
                                      [this] { return cancelled_ || chunks_.size() < capacity_; });
  if (!room) cancelled_ = true;  // the reader stalled: treat it as gone
  if (cancelled_) return false;
  chunks_.emplace_back(samples, samples + count);
  changed_.notify_all();
  return true;
}

void AudioChannel::finish(int status, const std::string &message) {
  const std::lock_guard<std::mutex> lock(mutex_);
  finished_ = true;
  status_ = status;
  message_ = message;
  changed_.notify_all();
}

AudioChannel::Event AudioChannel::pop(std::vector<float> *chunk) {
  std::unique_lock<std::mutex> lock(mutex_);
  // Every worker may be held by slow clients: the reader keeps the queue's time
  // limit itself rather than waiting for a worker to find the job stale.
  if (!changed_.wait_until(lock, take_by_, [this] { return taken_ || finished_; })) {
    cancelled_ = finished_ = true;
    status_ = 503;
    message_ = "the request waited too long for a synthesis thread";
  }
  changed_.wait(lock, [this] { return finished_ || !chunks_.empty(); });
  if (chunks_.empty()) return Event::kEnd;
  *chunk = std::move(chunks_.front());
  chunks_.pop_front();
  changed_.notify_all();
  return Event::kChunk;
}

void AudioChannel::cancel() {
  const std::lock_guard<std::mutex> lock(mutex_);
  cancelled_ = true;
  chunks_.clear();
  changed_.notify_all();
}

bool AudioChannel::cancelled() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return cancelled_;
}

int AudioChannel::status() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

std::string AudioChannel::message() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return message_;
}
