#pragma once
// One Wyoming client's conversation: "describe" answered with "info";
// "synthesize" with "audio-start", "audio-chunk"s as the audio is decoded and
// "audio-stop"; the streaming form ("synthesize-start", "synthesize-chunk"s,
// "synthesize-stop") speaks each piece's complete sentences as they arrive
// and ends with "audio-stop" and "synthesize-stopped". Whatever is refused is
// answered with "error" {text, code}, and the conversation goes on.

#include <chrono>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "server-context.h"
#include "wyoming-event.h"

class WyomingSession {
 public:
  // Writes its events to `fd`, waiting at most `write_limit` for the client
  // to take each.
  WyomingSession(ServerContext &context, int fd, std::chrono::milliseconds write_limit)
      : context_(context), fd_(fd), write_limit_(write_limit) {}

  // Answers one event; false once the client can no longer be written to.
  bool handle(const WyomingEvent &event);
  // Sends an "error" event.
  bool refuse(const std::string &text, const std::string &code);
  // Between synthesize-start and synthesize-stop.
  bool streaming() const { return streaming_; }

 private:
  struct Choice {
    size_t voice = 0;
    int speaker = 0;
  };

  bool synthesize(const nlohmann::json &data);
  bool start_stream(const nlohmann::json &data);
  bool stream_chunk(const nlohmann::json &data);
  bool stop_stream();
  bool refuse_not_ready();
  // The voice and speaker `voice` ({name, speaker} or {language}) asks for, of
  // the loaded shelf; false with a refusal in *error.
  bool choose(const nlohmann::json &voice, Choice *choice, std::string *error);
  enum class Spoken { kAll, kRefused, kClientGone };
  // Speaks `text` into the session's audio, starting it if need be; a text
  // refused (before or during its audio) is answered with "error".
  Spoken speak(const Choice &choice, std::string text, bool ssml);
  Spoken refused(const std::string &text, const char *code);
  bool send_audio(const std::vector<float> &samples, int rate);
  // "audio-stop" (after an "audio-start" if none was sent) ends the session's audio.
  bool end_audio(int rate);
  bool send(const WyomingEvent &event);

  ServerContext &context_;
  const int fd_;
  const std::chrono::milliseconds write_limit_;
  bool audio_started_ = false;
  bool streaming_ = false;  // between synthesize-start and synthesize-stop
  Choice stream_choice_;
  std::string pending_;  // streamed text not yet spoken
};
