#include "speech-start.h"

namespace {

// Chunks of audio a request may have decoded ahead of its client.
constexpr size_t kChannelChunks = 16;

}  // namespace

StartedSpeech start_speech(ServerContext &context, size_t voice, std::string text,
                           const korva_options &options) {
  SynthesisJob job;
  job.voice = voice;
  job.text = std::move(text);
  job.options = options;
  job.max_audio_seconds = context.options.max_audio;
  job.channel =
      std::make_shared<AudioChannel>(kChannelChunks, std::chrono::seconds(context.options.timeout));
  std::shared_ptr<AudioChannel> channel = job.channel;
  const Admission admission = context.pool.submit(std::move(job));
  return {admission, admission == Admission::kQueued ? channel : nullptr};
}

const char *refusal_reason(Admission admission) {
  switch (admission) {
    case Admission::kFull:
      return "the server is busy: its queue is full";
    case Admission::kClosed:
      return "the server is stopping";
    default:
      return "the voices are still loading";
  }
}
