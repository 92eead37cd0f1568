// The Wyoming protocol as a client sees it, over a socket pair, with voices
// that need no model. The client side here reads events as the protocol
// describes them: a JSON line, data_length bytes of data, payload_length bytes.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fake-shelf.h"
#include "server-context.h"
#include "wyoming-protocol.h"

namespace {

using nlohmann::json;

struct Event {
  std::string type;
  json data = json::object();
  std::string payload;
};

class WyomingClient : public ::testing::Test {
 protected:
  WyomingClient()
      : pool_({[this] {
                 auto shelf = std::make_unique<FakeShelf>();
                 shelf_ = shelf.get();
                 return shelf;
               },
               1, 4}),
        context_{options_, pool_, metrics_, in_flight_},
        protocol_(context_, [this](const Connection &, int status) { refusals_.push_back(status); }) {
    int ends[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    connection_.fd = ends[0];
    client_ = ends[1];
    std::string error;
    EXPECT_TRUE(pool_.wait_loaded(&error)) << error;
  }
  ~WyomingClient() override {
    ::close(connection_.fd);
    ::close(client_);
  }

  static ServerOptions small_options() {
    ServerOptions options;
    options.max_input = 64;
    options.max_audio = 1.0;
    return options;
  }

  // Hands `bytes` to the protocol as the gate would; false once it closes the connection.
  bool deliver(const std::string &bytes) {
    connection_.buffer += bytes;
    for (;;) {
      const Protocol::Framing framing = protocol_.frame(connection_);
      if (framing.state == Protocol::Framing::State::kRefused) {
        ::send(connection_.fd, framing.reply.data(), framing.reply.size(), 0);
        return false;
      }
      if (framing.state == Protocol::Framing::State::kIncomplete) return true;
      connection_.message_length = framing.length;
      if (!protocol_.answer(connection_)) return false;
    }
  }
  bool send_event(const std::string &type, const json &data = json::object()) {
    const std::string body = data.empty() ? "" : data.dump();
    json header{{"type", type}};
    if (!body.empty()) header["data_length"] = body.size();
    return deliver(header.dump() + "\n" + body);
  }

  // Reads exactly `size` bytes the server sent; fails the test after a long wait.
  std::string read_bytes(size_t size) {
    std::string got;
    char piece[4096];
    while (got.size() < size) {
      pollfd entry{client_, POLLIN, 0};
      if (::poll(&entry, 1, 60000) <= 0) break;
      const ssize_t n = ::recv(client_, piece, std::min(sizeof piece, size - got.size()), 0);
      if (n <= 0) break;
      got.append(piece, static_cast<size_t>(n));
    }
    return got;
  }
  Event read_event() {
    std::string line;
    for (std::string c = read_bytes(1); !c.empty() && c != "\n"; c = read_bytes(1)) line += c;
    Event event;
    const json header = json::parse(line, nullptr, false);
    if (header.is_discarded()) return event;
    event.type = header.value("type", "");
    if (header.contains("data") && header["data"].is_object()) event.data = header["data"];
    if (header.value("data_length", 0) > 0) {
      event.data.update(json::parse(read_bytes(header["data_length"].get<size_t>())));
    }
    if (header.value("payload_length", 0) > 0) {
      event.payload = read_bytes(header["payload_length"].get<size_t>());
    }
    return event;
  }
  // Events up to and including the first of type `last` (or an error).
  std::vector<Event> read_until(const std::string &last) {
    std::vector<Event> events;
    do {
      events.push_back(read_event());
    } while (!events.back().type.empty() && events.back().type != last &&
             events.back().type != "error");
    return events;
  }
  Event refusal_of(const std::string &type, const json &data) {
    EXPECT_TRUE(send_event(type, data));
    return read_event();
  }

  ServerOptions options_ = small_options();
  FakeShelf *shelf_ = nullptr;
  SynthesisPool pool_;
  Metrics metrics_;
  InFlight in_flight_;
  ServerContext context_;
  std::vector<int> refusals_;
  WyomingProtocol protocol_;
  Connection connection_;
  int client_ = -1;
};

// Samples of the audio-chunks of `events`, checking each chunk's format.
std::vector<int16_t> audio_of(const std::vector<Event> &events, int rate) {
  std::vector<int16_t> samples;
  for (const Event &event : events) {
    if (event.type != "audio-chunk") continue;
    EXPECT_EQ(event.data, json({{"rate", rate}, {"width", 2}, {"channels", 1}}));
    EXPECT_LE(event.payload.size(), 2048u);
    for (size_t i = 0; i + 1 < event.payload.size(); i += 2) {
      samples.push_back(static_cast<int16_t>(static_cast<uint8_t>(event.payload[i]) |
                                             (static_cast<uint8_t>(event.payload[i + 1]) << 8)));
    }
  }
  return samples;
}

std::vector<std::string> types_of(const std::vector<Event> &events) {
  std::vector<std::string> types;
  for (const Event &event : events) {
    if (types.empty() || event.type != "audio-chunk" || types.back() != "audio-chunk")
      types.push_back(event.type);
  }
  return types;
}

}  // namespace

TEST_F(WyomingClient, DescribeTellsEveryKeyOfTheProgramAndItsVoices) {
  ASSERT_TRUE(send_event("describe"));
  const Event info = read_event();
  ASSERT_EQ(info.type, "info");
  for (const char *service : {"asr", "handle", "intent", "wake", "mic", "snd"}) {
    EXPECT_EQ(info.data[service], json::array()) << service;
  }
  ASSERT_EQ(info.data["tts"].size(), 1u);
  const json &program = info.data["tts"][0];
  for (const char *key : {"name", "attribution", "installed", "description", "version", "voices",
                          "supports_synthesize_streaming"}) {
    EXPECT_TRUE(program.contains(key)) << key;
  }
  EXPECT_EQ(program["supports_synthesize_streaming"], true);
  ASSERT_EQ(program["voices"].size(), 2u);
  const json &ann = program["voices"][0];
  for (const char *key :
       {"name", "attribution", "installed", "description", "version", "languages", "speakers"}) {
    EXPECT_TRUE(ann.contains(key)) << key;
  }
  EXPECT_EQ(ann["name"], "ann");
  EXPECT_EQ(ann["languages"], json::array({"en_US"}));
  EXPECT_EQ(ann["speakers"], json::parse(R"([{"name":"x"},{"name":"y"}])"));
  EXPECT_TRUE(program["voices"][1]["speakers"].is_null());
  EXPECT_TRUE(program["attribution"].contains("url"));
}

TEST_F(WyomingClient, SynthesizeStreamsTheAudioBetweenStartAndStop) {
  ASSERT_TRUE(send_event("synthesize", {{"text", "Hello, y"}, {"voice", {{"name", "ann"}, {"speaker", "y"}}}}));
  const std::vector<Event> events = read_until("audio-stop");
  EXPECT_EQ(types_of(events), (std::vector<std::string>{"audio-start", "audio-chunk", "audio-stop"}));
  EXPECT_EQ(events.front().data, json({{"rate", 16000}, {"width", 2}, {"channels", 1}}));
  const std::vector<int16_t> samples = audio_of(events, 16000);
  EXPECT_EQ(samples.size(), 8u * kFakeSamplesPerByte);
  EXPECT_EQ(samples.front(), static_cast<int16_t>(0.2f * 32767.0f));  // speaker y
  // Inline data, another voice by name, a speaker by id, and the language form.
  ASSERT_TRUE(deliver(R"({"type":"synthesize","data":{"text":"Hi","voice":{"name":"bob"}}})" "\n"));
  EXPECT_EQ(audio_of(read_until("audio-stop"), 22050).size(), 2u * kFakeSamplesPerByte);
  ASSERT_TRUE(send_event("synthesize", {{"text", "Hi"}, {"voice", {{"name", "ann"}, {"speaker", 1}}}}));
  EXPECT_EQ(audio_of(read_until("audio-stop"), 16000).back(), static_cast<int16_t>(0.2f * 32767.0f));
  ASSERT_TRUE(send_event("synthesize", {{"text", "Hi"}, {"voice", {{"language", "en-GB"}}}}));
  EXPECT_EQ(audio_of(read_until("audio-stop"), 16000).size(), 2u * kFakeSamplesPerByte);
}

TEST_F(WyomingClient, StreamedTextIsSpokenSentenceBySentenceAsItArrives) {
  ASSERT_TRUE(send_event("synthesize-start", {{"voice", {{"name", "bob"}}}}));
  ASSERT_TRUE(send_event("synthesize-chunk", {{"text", "One. Tw"}}));
  // "One. " is spoken before any more text comes.
  std::vector<Event> events;
  while (audio_of(events, 22050).size() < 5u * kFakeSamplesPerByte) events.push_back(read_event());
  EXPECT_EQ(events.front().type, "audio-start");
  EXPECT_EQ(shelf_->spoken, 1);
  ASSERT_TRUE(send_event("synthesize", {{"text", "One. Two."}}));  // inside a session: not spoken again
  ASSERT_TRUE(send_event("synthesize-chunk", {{"text", "o."}}));
  ASSERT_TRUE(send_event("synthesize-stop"));
  const std::vector<Event> rest = read_until("synthesize-stopped");
  EXPECT_EQ(types_of(rest),
            (std::vector<std::string>{"audio-chunk", "audio-stop", "synthesize-stopped"}));
  EXPECT_EQ(audio_of(rest, 22050).size(), 4u * kFakeSamplesPerByte);
  EXPECT_EQ(shelf_->spoken, 2);
  // A session with nothing to say still ends its audio.
  ASSERT_TRUE(send_event("synthesize-start"));
  ASSERT_TRUE(send_event("synthesize-stop"));
  EXPECT_EQ(types_of(read_until("synthesize-stopped")),
            (std::vector<std::string>{"audio-start", "audio-stop", "synthesize-stopped"}));
}

TEST_F(WyomingClient, StreamedTextOverTheInputLimitIsSpokenInPiecesOrRefusedAndTheSessionGoesOn) {
  ASSERT_TRUE(send_event("synthesize-start"));
  EXPECT_NE(protocol_.idle_reply(connection_).find("\"timeout\""), std::string::npos)
      << "a streaming session left idle is told why it ends";
  std::string sentences;
  for (int i = 0; i < 30; ++i) sentences += "Hi. ";  // twice the input limit, in one chunk
  ASSERT_TRUE(send_event("synthesize-chunk", {{"text", sentences}}));
  ASSERT_TRUE(send_event("synthesize-chunk", {{"text", std::string(65, 'a')}}));
  ASSERT_TRUE(send_event("synthesize-chunk", {{"text", std::string("a\0b", 3)}}));
  ASSERT_TRUE(send_event("synthesize-chunk", {{"text", "Bye."}}));
  ASSERT_TRUE(send_event("synthesize-stop"));
  const std::vector<Event> spoken = read_until("error");
  EXPECT_EQ(audio_of(spoken, 16000).size(), sentences.size() * kFakeSamplesPerByte);
  EXPECT_EQ(spoken.back().data.value("code", ""), "too-large");
  EXPECT_NE(spoken.back().data.value("text", "").find("no sentence end within 64 bytes"),
            std::string::npos);
  const Event nul = read_event();
  EXPECT_EQ(nul.data.value("code", ""), "bad-request");
  EXPECT_NE(nul.data.value("text", "").find("NUL"), std::string::npos);
  const std::vector<Event> rest = read_until("synthesize-stopped");
  EXPECT_EQ(types_of(rest),
            (std::vector<std::string>{"audio-chunk", "audio-stop", "synthesize-stopped"}));
  EXPECT_EQ(audio_of(rest, 16000).size(), 4u * kFakeSamplesPerByte);
  EXPECT_EQ(protocol_.idle_reply(connection_), "");
}

TEST_F(WyomingClient, RefusalsAreErrorEventsAndTheConversationGoesOn) {
  const struct {
    std::string type;
    json data;
    const char *code;
    const char *text;
  } cases[] = {
      {"synthesize", {{"text", " "}}, "bad-request", "\"text\" is empty"},
      {"synthesize", json::object(), "bad-request", "needs \"text\""},
      {"synthesize", {{"text", std::string(65, 'a')}}, "too-large", "at most 64"},
      {"synthesize", {{"text", "Hi"}, {"voice", {{"name", "carl"}}}}, "bad-voice",
       "no voice is called \"carl\"; this server has \"ann\", \"bob\""},
      {"synthesize", {{"text", "Hi"}, {"voice", {{"name", "bob"}, {"speaker", "x"}}}}, "bad-voice",
       "has no speaker"},
      {"synthesize", {{"text", "Hi"}, {"voice", {{"language", "fi"}}}}, "bad-voice", "\"fi\""},
      {"synthesize", {{"text", "Hi"}, {"voice", {{"name", 5}}}}, "bad-voice", "must be a string"},
      {"synthesize", {{"text", "Hi"}, {"text_format", "html"}}, "bad-request", "text_format"},
      {"synthesize", {{"text", "fail: SSML: line 1: bad"}}, "bad-request", "SSML: line 1"},
      {"synthesize", {{"text", "fail: Inference: too long"}}, "synthesis-failed", "Inference"},
      {"synthesize-chunk", {{"text", "x"}}, "bad-request", "before \"synthesize-start\""},
      {"synthesize-stop", json::object(), "bad-request", "before \"synthesize-start\""},
      {"transcribe", json::object(), "unknown-event", "\"transcribe\""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.type + " " + c.data.dump());
    const Event error = refusal_of(c.type, c.data);
    EXPECT_EQ(error.type, "error");
    EXPECT_EQ(error.data.value("code", ""), c.code);
    EXPECT_NE(error.data.value("text", "").find(c.text), std::string::npos) << error.data.dump();
  }
  ASSERT_TRUE(send_event("synthesize", {{"text", "Still here"}}));
  EXPECT_EQ(audio_of(read_until("audio-stop"), 16000).size(), 10u * kFakeSamplesPerByte);
}

TEST_F(WyomingClient, TooMuchAudioIsRefusedAndMalformedEventsCloseTheConnection) {
  options_.max_input = 1000;
  ASSERT_TRUE(send_event("synthesize", {{"text", std::string(161, 'a')}}));
  const std::vector<Event> events = read_until("audio-stop");
  EXPECT_EQ(events.back().type, "error");
  EXPECT_EQ(events.back().data.value("code", ""), "too-large");
  EXPECT_LE(audio_of(events, 16000).size(), 16000u);
  EXPECT_FALSE(deliver("{\"type\": \"describe\", \"data_length\": \"many\"}\n"));
  const Event error = read_event();
  EXPECT_EQ(error.type, "error");
  EXPECT_EQ(error.data.value("code", ""), "bad-event");
  EXPECT_EQ(refusals_, std::vector<int>{400});
}
