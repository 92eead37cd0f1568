#include "speech-handler.h"

#include <httplib.h>

#include <memory>
#include <vector>

#include "access-log.h"
#include "json-error.h"
#include "pcm-encoding.h"
#include "speech-request.h"
#include "speech-start.h"

namespace {

constexpr int kOutputRate = 48000;  // korva_synthesize's rate with native_rate off

// The whole text as one WAV file; a failure anywhere is still an error answer.
void answer_wav(ServerContext &context, AudioChannel &channel, std::vector<float> samples,
                httplib::Response &response) {
  std::vector<float> chunk;
  while (channel.pop(&chunk) == AudioChannel::Event::kChunk) {
    samples.insert(samples.end(), chunk.begin(), chunk.end());
  }
  if (channel.status() != 0) return send_error(response, channel.status(), channel.message());
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
  if (!context.pool.ready()) return send_error(response, 503, refusal_reason(Admission::kNotReady));
  SpeechRequest speech;
  try {
    speech = parse_speech_request(request.body, context.pool.shelf(), context.options.max_input);
  } catch (const BadRequest &bad) {
    return send_error(response, bad.status, bad.what());
  }
  InFlight::Ticket ticket = context.in_flight.begin();
  const StartedSpeech started =
      start_speech(context, speech.voice, std::move(speech.input), speech.options);
  if (started.admission != Admission::kQueued) {
    return send_error(response, 503, refusal_reason(started.admission));
  }
  std::vector<float> first;
  if (started.channel->pop(&first) == AudioChannel::Event::kEnd &&
      started.channel->status() != 0) {
    return send_error(response, started.channel->status(), started.channel->message());
  }
  if (speech.format == AudioFormat::kWav) {
    return answer_wav(context, *started.channel, std::move(first), response);
  }
  answer_pcm(context, started.channel, std::move(first), std::move(ticket), response);
}
