#include "speech-handler.h"

#include <httplib.h>

#include <memory>
#include <vector>

#include "access-log.h"
#include "json-error.h"
#include "pcm-encoding.h"

namespace {

constexpr int kOutputRate = 48000;  // korva_synthesize's rate with native_rate off
constexpr size_t kChannelChunks = 16;

const char *refusal(Admission admission) {
  switch (admission) {
    case Admission::kFull:
      return "the server is busy: its queue is full";
    case Admission::kClosed:
      return "the server is stopping";
    default:
      return "the voice is still loading";
  }
}

// The whole text as one WAV file; a failure anywhere is still an error answer.
void answer_wav(ServerContext &context, AudioChannel &channel, std::vector<float> samples,
                httplib::Response &response) {
  std::vector<float> chunk;
  while (channel.pop(&chunk) == AudioChannel::Event::kChunk) {
    samples.insert(samples.end(), chunk.begin(), chunk.end());
  }
  if (channel.status() != 0) {
    context.metrics.count_error();
    send_error(response, channel.status(), channel.message());
    return;
  }
  context.metrics.add_audio(samples.size(), kOutputRate);
  response.set_content(wav_file(std::move(samples), kOutputRate), "audio/wav");
}

// One streamed answer: the channel it drains and the ticket that keeps a
// stopping server waiting for it. Going away (the answer sent, or the client
// gone) stops whatever synthesis is left.
struct Stream {
  Stream(std::shared_ptr<AudioChannel> channel, InFlight::Ticket ticket, std::vector<float> first)
      : channel(std::move(channel)), ticket(std::move(ticket)), first(std::move(first)) {}
  ~Stream() { channel->cancel(); }
  Stream(const Stream &) = delete;
  Stream &operator=(const Stream &) = delete;

  std::shared_ptr<AudioChannel> channel;
  InFlight::Ticket ticket;
  std::vector<float> first;
};

bool send_chunk(ServerContext &context, const std::vector<float> &samples,
                httplib::DataSink &sink) {
  std::string bytes;
  append_pcm16(samples.data(), samples.size(), bytes);
  if (!sink.write(bytes.data(), bytes.size())) return false;
  note_streamed(bytes.size());
  context.metrics.add_audio(samples.size(), kOutputRate);
  return true;
}

// Called by the HTTP library for each piece of the body, until done() or false.
bool provide_chunk(ServerContext &context, Stream &stream, httplib::DataSink &sink) {
  std::vector<float> chunk;
  if (!stream.first.empty()) {
    chunk.swap(stream.first);
  } else if (stream.channel->pop(&chunk) == AudioChannel::Event::kEnd) {
    if (stream.channel->status() == 0) {
      sink.done();
      return true;
    }
    context.metrics.count_error();
    std::fprintf(stderr, "[serve] stream broken off: %s\n", stream.channel->message().c_str());
    return false;
  }
  return send_chunk(context, chunk, sink);
}

void answer_pcm(ServerContext &context, std::shared_ptr<AudioChannel> channel,
                std::vector<float> first, InFlight::Ticket ticket, httplib::Response &response) {
  auto stream = std::make_shared<Stream>(std::move(channel), std::move(ticket), std::move(first));
  response.set_header("X-Sample-Rate", std::to_string(kOutputRate));
  response.set_header("X-Sample-Format", "s16le");
  response.set_header("X-Channels", "1");
  response.set_chunked_content_provider("audio/pcm",
                                        [&context, stream](size_t, httplib::DataSink &sink) {
                                          return provide_chunk(context, *stream, sink);
                                        });
}

}  // namespace

void answer_speech(ServerContext &context, const httplib::Request &request,
                   httplib::Response &response) {
  if (!context.worker.ready()) return send_error(response, 503, refusal(Admission::kNotReady));
  SynthesisJob job;
  try {
    job.request =
        parse_speech_request(request.body, context.worker.voice(), context.options.max_input);
  } catch (const BadRequest &bad) {
    return send_error(response, bad.status, bad.what());
  }
  const AudioFormat format = job.request.format;
  auto channel =
      std::make_shared<AudioChannel>(kChannelChunks, std::chrono::seconds(context.options.timeout));
  job.channel = channel;
  InFlight::Ticket ticket = context.in_flight.begin();
  const Admission admission = context.worker.submit(std::move(job));
  if (admission != Admission::kQueued) return send_error(response, 503, refusal(admission));

  std::vector<float> first;
  if (channel->pop(&first) == AudioChannel::Event::kEnd && channel->status() != 0) {
    if (channel->status() != 503) context.metrics.count_error();
    return send_error(response, channel->status(), channel->message());
  }
  if (format == AudioFormat::kWav) return answer_wav(context, *channel, std::move(first), response);
  answer_pcm(context, std::move(channel), std::move(first), std::move(ticket), response);
}
