#include "synthesis-worker.h"

#include "korva.h"

namespace {

constexpr int kServiceUnavailable = 503;
constexpr int kRefused = 400;
constexpr int kStopped = 500;

int on_audio(const float *samples, int count, void *user) {
  return static_cast<AudioChannel *>(user)->push(samples, static_cast<size_t>(count)) ? 0 : 1;
}

}  // namespace

SynthesisWorker::SynthesisWorker(Config config)
    : config_(std::move(config)), thread_([this] { run(); }) {}

SynthesisWorker::~SynthesisWorker() {
  close();
  thread_.join();
}

bool SynthesisWorker::wait_loaded(std::string *error) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !loading_; });
  *error = load_error_;
  return ready_;
}

Admission SynthesisWorker::submit(SynthesisJob job) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return Admission::kClosed;
  if (!ready_) return Admission::kNotReady;
  if (queue_.size() >= config_.queue + (busy_ ? 0 : 1)) return Admission::kFull;
  queue_.push_back(std::move(job));
  changed_.notify_all();
  return Admission::kQueued;
}

void SynthesisWorker::close() {
  std::deque<SynthesisJob> waiting;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    waiting.swap(queue_);
    changed_.notify_all();
  }
  for (SynthesisJob &job : waiting)
    job.channel->finish(kServiceUnavailable, "the server is stopping");
}

size_t SynthesisWorker::depth() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

bool SynthesisWorker::load() {
  const char *espeak = config_.espeak_data.empty() ? nullptr : config_.espeak_data.c_str();
  if (korva_load(config_.voice.c_str(), espeak) != 0) {
    load_error_ = "cannot load the voice '" + config_.voice + "': " + korva_last_error();
    return false;
  }
  voice_ = read_voice_card(config_.voice);
  return true;
}

bool SynthesisWorker::next(SynthesisJob *job) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return closed_ || !queue_.empty(); });
  if (queue_.empty()) return false;
  *job = std::move(queue_.front());
  queue_.pop_front();
  busy_ = true;  // under the lock, so that submit() never counts a job twice
  return true;
}

void SynthesisWorker::synthesise(SynthesisJob &job) {
  AudioChannel &channel = *job.channel;
  if (channel.cancelled()) return;
  if (std::chrono::steady_clock::now() - job.queued_at > config_.max_wait) {
    channel.finish(kServiceUnavailable, "the request waited too long for the engine");
    return;
  }
  if (korva_synthesize(job.request.input.c_str(), &job.request.options, on_audio, &channel) != 0) {
    channel.finish(kRefused, korva_last_error());
  } else if (channel.cancelled()) {
    // Gone or stalled: the audio is incomplete, whoever still reads it.
    channel.finish(kStopped, "the synthesis stopped: the client took no audio in time");
  } else {
    channel.finish(0, "");
  }
}

void SynthesisWorker::run() {
  const bool loaded = load();
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    loading_ = false;
    ready_ = loaded;
    changed_.notify_all();
  }
  SynthesisJob job;
  while (loaded && next(&job)) {
    synthesise(job);
    job = SynthesisJob{};  // the channel goes with the job; the reader may hold it longer
    busy_ = false;
  }
  if (loaded) korva_unload();
}
