#include "wyoming-session.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "pcm-encoding.h"
#include "sentence-ends.h"
#include "socket-io.h"
#include "speech-request.h"
#include "speech-start.h"
#include "wyoming-info.h"

namespace {

using nlohmann::json;

constexpr size_t kSamplesPerChunk = 1024;

// The refusal codes of "error" events, after the HTTP status of the same refusal.
const char *code_of(int status) {
  switch (status) {
    case 400:
      return "bad-request";
    case 413:
      return "too-large";
    case 503:
      return "unavailable";
    default:
      return "synthesis-failed";
  }
}

bool is_blank(const std::string &text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

// A speaker as Wyoming gives it: a name of the voice's, or an id (as a number or text).
bool speaker_of(const json &given, const VoiceCard &card, int *speaker) {
  long id = -1;
  if (given.is_number_integer()) {
    id = given.get<long>();
  } else if (given.is_string()) {
    const std::string &text = given.get_ref<const std::string &>();
    if (const auto named = card.speaker_named(text)) {
      *speaker = *named;
      return true;
    }
    char *end = nullptr;
    id = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') return false;
  }
  if (id < 0 || id >= card.n_speakers()) return false;
  *speaker = static_cast<int>(id);
  return true;
}

// "en", "en_US", "en-us": every voice reads English.
bool speaks(const std::string &language) {
  return language.size() >= 2 && std::tolower(static_cast<unsigned char>(language[0])) == 'e' &&
         std::tolower(static_cast<unsigned char>(language[1])) == 'n' &&
         (language.size() == 2 || language[2] == '_' || language[2] == '-');
}

const std::string *text_of(const json &data, const char *name) {
  const auto found = data.find(name);
  return found != data.end() && found->is_string() ? &found->get_ref<const std::string &>()
                                                   : nullptr;
}

}  // namespace

bool WyomingSession::handle(const WyomingEvent &event) {
  if (event.type == "describe") {
    if (!context_.pool.ready()) return refuse_not_ready();
    return send({"info", wyoming_info(context_.pool.shelf()), ""});
  }
  if (event.type == "synthesize") {
    // Inside a streaming session its text comes from its chunks: one session, one audio.
    return streaming_ || synthesize(event.data);
  }
  if (event.type == "synthesize-start") return start_stream(event.data);
  if (event.type == "synthesize-chunk") return stream_chunk(event.data);
  if (event.type == "synthesize-stop") return stop_stream();
  return refuse("this server does not take \"" + event.type + "\" events", "unknown-event");
}

bool WyomingSession::refuse(const std::string &text, const std::string &code) {
  return send({"error", {{"text", text}, {"code", code}}, ""});
}

bool WyomingSession::refuse_not_ready() {
  return refuse(refusal_reason(Admission::kNotReady), "unavailable");
}

bool WyomingSession::choose(const json &voice, Choice *choice, std::string *error) {
  *choice = Choice{};
  if (voice.is_null()) return true;
  if (!voice.is_object()) {
    *error = "\"voice\" must be an object: {\"name\", \"speaker\"} or {\"language\"}";
    return false;
  }
  for (const char *key : {"name", "language"}) {
    const auto found = voice.find(key);
    if (found != voice.end() && !found->is_null() && !found->is_string()) {
      *error = std::string("the voice's \"") + key + "\" must be a string, not " + found->dump();
      return false;
    }
  }
  const VoiceShelf &shelf = context_.pool.shelf();
  if (const std::string *name = text_of(voice, "name"); name && !name->empty()) {
    const auto found = shelf.find(*name);
    if (!found) {
      *error = "no voice is called \"" + *name + "\"; this server has " + shelf.names();
      return false;
    }
    choice->voice = *found;
  } else if (const std::string *language = text_of(voice, "language"); language) {
    if (!speaks(*language)) {
      *error = "no voice speaks \"" + *language + "\"; every voice here reads English";
      return false;
    }
  }
  const auto speaker = voice.find("speaker");
  if (speaker != voice.end() && !speaker->is_null()) {
    const VoiceCard &card = shelf.voices()[choice->voice];
    if (!speaker_of(*speaker, card, &choice->speaker)) {
      *error = "the voice \"" + card.name + "\" has no speaker " + speaker->dump();
      return false;
    }
  }
  return true;
}

bool WyomingSession::synthesize(const json &data) {
  const std::string *text = text_of(data, "text");
  const std::string *format = text_of(data, "text_format");
  if (!text) return refuse("\"synthesize\" needs \"text\": the text to speak", "bad-request");
  if (format && *format != "text" && *format != "ssml") {
    return refuse("\"text_format\" must be \"text\" or \"ssml\"", "bad-request");
  }
  if (!context_.pool.ready()) return refuse_not_ready();
  Choice choice;
  std::string error;
  if (!choose(data.value("voice", json()), &choice, &error)) return refuse(error, "bad-voice");
  try {
    check_speech_text(*text, "text", context_.options.max_input);
  } catch (const BadRequest &bad) {
    return refuse(bad.what(), code_of(bad.status));
  }
  audio_started_ = false;
  const Spoken spoken = speak(choice, *text, format && *format == "ssml");
  if (spoken != Spoken::kAll) return spoken == Spoken::kRefused;
  return end_audio(context_.pool.shelf().voices()[choice.voice].sample_rate);
}

bool WyomingSession::start_stream(const json &data) {
  if (!context_.pool.ready()) return refuse_not_ready();
  std::string error;
  if (!choose(data.value("voice", json()), &stream_choice_, &error)) {
    return refuse(error, "bad-voice");
  }
  streaming_ = true;
  audio_started_ = false;
  pending_.clear();
  return true;
}

bool WyomingSession::stream_chunk(const json &data) {
  if (!streaming_) return refuse("\"synthesize-chunk\" before \"synthesize-start\"", "bad-request");
  const std::string *text = text_of(data, "text");
  if (!text) return refuse("\"synthesize-chunk\" needs \"text\"", "bad-request");
  if (text->find('\0') != std::string::npos) {
    return refuse("\"text\" contains a NUL character", "bad-request");
  }
  pending_ += *text;
  // Whole sentences are spoken as they come, at most the input limit at a time.
  const size_t limit = context_.options.max_input;
  for (size_t end; (end = complete_sentences_end(std::string_view(pending_).substr(0, limit))) > 0;) {
    std::string sentences = pending_.substr(0, end);
    pending_.erase(0, end);
    if (!is_blank(sentences) &&
        speak(stream_choice_, std::move(sentences), false) == Spoken::kClientGone) {
      return false;
    }
  }
  if (pending_.size() <= limit) return true;
  // The session goes on without the text refused, so that its stop still ends the audio.
  pending_.clear();
  return refuse("the text streamed holds no sentence end within " + std::to_string(limit) +
                    " bytes: it is left unspoken",
                "too-large");
}

bool WyomingSession::stop_stream() {
  if (!streaming_) return refuse("\"synthesize-stop\" before \"synthesize-start\"", "bad-request");
  streaming_ = false;
  std::string rest;
  rest.swap(pending_);
  if (!is_blank(rest) && speak(stream_choice_, std::move(rest), false) == Spoken::kClientGone) {
    return false;
  }
  return end_audio(context_.pool.shelf().voices()[stream_choice_.voice].sample_rate) &&
         send({"synthesize-stopped", json::object(), ""});
}

WyomingSession::Spoken WyomingSession::speak(const Choice &choice, std::string text,
                                             bool ssml) {
  korva_options options;
  korva_options_default(&options, sizeof options);
  options.speaker = choice.speaker;
  options.native_rate = 1;  // Wyoming says its rate: no resampling
  options.ssml = ssml ? 1 : 0;
  const int rate = context_.pool.shelf().voices()[choice.voice].sample_rate;
  const InFlight::Ticket ticket = context_.in_flight.begin();
  const StartedSpeech started = start_speech(context_, choice.voice, std::move(text), options);
  if (started.admission != Admission::kQueued) {
    return refused(refusal_reason(started.admission), "unavailable");
  }
  std::vector<float> chunk;
  while (started.channel->pop(&chunk) == AudioChannel::Event::kChunk) {
    if (!send_audio(chunk, rate)) {
      started.channel->cancel();  // the client is gone: so is its synthesis
      return Spoken::kClientGone;
    }
  }
  const int status = started.channel->status();
  return status == 0 ? Spoken::kAll : refused(started.channel->message(), code_of(status));
}

WyomingSession::Spoken WyomingSession::refused(const std::string &text, const char *code) {
  return refuse(text, code) ? Spoken::kRefused : Spoken::kClientGone;
}

bool WyomingSession::send_audio(const std::vector<float> &samples, int rate) {
  const json format{{"rate", rate}, {"width", 2}, {"channels", 1}};
  if (!audio_started_) {
    if (!send({"audio-start", format, ""})) return false;
    audio_started_ = true;
  }
  for (size_t at = 0; at < samples.size(); at += kSamplesPerChunk) {
    const size_t count = std::min(kSamplesPerChunk, samples.size() - at);
    WyomingEvent chunk{"audio-chunk", format, ""};
    append_pcm16(samples.data() + at, count, chunk.payload);
    if (!send(chunk)) return false;
  }
  context_.metrics.add_audio(samples.size(), rate);
  return true;
}

bool WyomingSession::end_audio(int rate) {
  if (!audio_started_ && !send({"audio-start", {{"rate", rate}, {"width", 2}, {"channels", 1}}, ""}))
    return false;
  audio_started_ = false;
  return send({"audio-stop", json::object(), ""});
}

bool WyomingSession::send(const WyomingEvent &event) {
  return send_all(fd_, encode_wyoming_event(event), write_limit_);
}
