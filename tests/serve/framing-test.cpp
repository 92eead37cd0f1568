// Where messages end in the bytes received so far: HTTP requests, Wyoming
// events, and the sentences of a text still arriving.
#include <gtest/gtest.h>

#include <string>

#include "connection.h"
#include "http-framing.h"
#include "http-protocol.h"
#include "sentence-ends.h"
#include "wyoming-event.h"

namespace {

using nlohmann::json;

HttpFraming http(const std::string &bytes) { return frame_http_request(bytes, 200, 50); }

WyomingFraming wyoming(const std::string &bytes) {
  return frame_wyoming_event(bytes, {100, 40, 16});
}

}  // namespace

TEST(HttpFraming, ARequestIsWholeOnceItsHeadersAndContentLengthBytesAreThere) {
  const std::string request =
      "POST /v1/audio/speech?x=1 HTTP/1.1\r\nHost: a\r\ncontent-length: 5\r\n\r\nhello";
  for (size_t cut = 0; cut < request.size(); ++cut) {
    EXPECT_EQ(http(request.substr(0, cut)).state, HttpFraming::State::kIncomplete) << cut;
  }
  const HttpFraming whole = http(request + "GET / HTTP/1.1\r\n");  // a pipelined one behind
  ASSERT_EQ(whole.state, HttpFraming::State::kComplete);
  EXPECT_EQ(whole.length, request.size());
  EXPECT_EQ(whole.method, "POST");
  // Bare line feeds end lines too; no Content-Length: no body.
  const HttpFraming get = http("GET /health HTTP/1.0\n\n");
  EXPECT_EQ(get.state, HttpFraming::State::kComplete);
  EXPECT_EQ(get.length, 22u);
  EXPECT_TRUE(http("POST / HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 3\r\n\r\n")
                  .expects_continue);
}

// The router decodes a target before it matches it: a speech request must not
// reach the quick threads by spelling its path another way.
TEST(HttpFraming, EveryPostGoesToTheSpeechThreadsHoweverItsPathIsSpelled) {
  HttpRoutes routes;
  const std::atomic<bool> stopping{false};
  HttpProtocol protocol(routes, {}, stopping, [](const Connection &, int) {});
  const auto speech = [&](const std::string &head) {
    Connection connection;
    connection.buffer = head + " HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}";
    const Protocol::Framing framing = protocol.frame(connection);
    EXPECT_EQ(framing.state, Protocol::Framing::State::kComplete) << head;
    return framing.speech;
  };
  EXPECT_TRUE(speech("POST /v1/audio/speech"));
  EXPECT_TRUE(speech("POST /v1/audio/%73peech"));
  EXPECT_TRUE(speech("POST /v1/audio/speech#x"));
  EXPECT_TRUE(speech("POST //v1/audio/speech?a=b"));
  EXPECT_FALSE(speech("GET /health"));
  EXPECT_FALSE(speech("GET /v1/voices"));
}

TEST(HttpFraming, OversizedChunkedAndBadlyMeasuredRequestsAreRefusedBeforeTheirBody) {
  EXPECT_EQ(http(std::string(201, 'x')).state, HttpFraming::State::kHeadersTooLarge);
  EXPECT_EQ(http("GET / HTTP/1.1\r\nX: " + std::string(200, 'x') + "\r\n\r\n").state,
            HttpFraming::State::kHeadersTooLarge);
  EXPECT_EQ(http("POST / HTTP/1.1\r\nContent-Length: 51\r\n\r\n").state,
            HttpFraming::State::kBodyTooLarge);
  EXPECT_EQ(http("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n").state,
            HttpFraming::State::kNoLength);
  for (const char *length : {"", "x", "-1", "5 5", "99999999999999999999999"}) {
    EXPECT_EQ(http(std::string("POST / HTTP/1.1\r\nContent-Length: ") + length + "\r\n\r\n").state,
              HttpFraming::State::kBadLength)
        << length;
  }
}

TEST(WyomingEvent, AnEventIsWholeOnceItsHeaderDataAndPayloadAreThere) {
  const std::string event =
      R"({"type":"synthesize","data_length":14,"payload_length":2,"data":{"a":1,"text":"x"}})"
      "\n"
      R"({"text":"Hi."})"
      "PP";
  for (size_t cut = 0; cut < event.size(); ++cut) {
    EXPECT_EQ(wyoming(event.substr(0, cut)).state, WyomingFraming::State::kIncomplete) << cut;
  }
  const WyomingFraming framed = wyoming(event + "{\"type\":");
  ASSERT_EQ(framed.state, WyomingFraming::State::kComplete);
  EXPECT_EQ(framed.length, event.size());
  EXPECT_EQ(framed.type, "synthesize");
  // Inline data and data bytes are merged, the bytes winning.
  const WyomingEvent parsed = parse_wyoming_event(event);
  EXPECT_EQ(parsed.type, "synthesize");
  EXPECT_EQ(parsed.data, json({{"a", 1}, {"text", "Hi."}}));
  EXPECT_EQ(parsed.payload, "PP");
  EXPECT_EQ(wyoming("{\"type\":\"describe\"}\n").length, 20u);
}

TEST(WyomingEvent, MalformedOrOversizedHeadersAreRefusedAndBadDataThrows) {
  const char *cases[] = {
      "not json\n",
      "[1]\n",
      "{\"data_length\":1}\n",
      "{\"type\":\"\"}\n",
      "{\"type\":\"x\",\"data_length\":-1}\n",
      "{\"type\":\"x\",\"data_length\":1.5}\n",
      "{\"type\":\"x\",\"data_length\":41}\n",
      "{\"type\":\"x\",\"payload_length\":17}\n",
      "{\"type\":\"x\",\"data\":[1]}\n",
  };
  for (const char *bytes : cases) {
    EXPECT_EQ(wyoming(bytes).state, WyomingFraming::State::kMalformed) << bytes;
  }
  EXPECT_EQ(wyoming(std::string(101, ' ')).state, WyomingFraming::State::kMalformed);
  EXPECT_THROW(parse_wyoming_event("{\"type\":\"x\",\"data_length\":3}\n[1]"), std::runtime_error);
}

TEST(WyomingEvent, EncodedEventsFrameAndParseBack) {
  const WyomingEvent chunk{"audio-chunk", {{"rate", 22050}, {"width", 2}, {"channels", 1}},
                           std::string("\x01\x00\xff\x7f", 4)};
  const std::string bytes = encode_wyoming_event(chunk);
  const json header = json::parse(bytes.substr(0, bytes.find('\n')));
  EXPECT_EQ(header["type"], "audio-chunk");
  EXPECT_EQ(header["payload_length"], 4);
  EXPECT_FALSE(header.contains("data"));
  const WyomingEvent back = parse_wyoming_event(bytes);
  EXPECT_EQ(back.data, chunk.data);
  EXPECT_EQ(back.payload, chunk.payload);
  // Empty data and payload leave their lengths out.
  const json stop = json::parse(encode_wyoming_event({"audio-stop", json::object(), ""}));
  EXPECT_FALSE(stop.contains("data_length"));
  EXPECT_FALSE(stop.contains("payload_length"));
}

TEST(SentenceEnds, CompleteSentencesEndAtAMarkBeforeWhiteSpaceOrAtALineEnd) {
  EXPECT_EQ(complete_sentences_end(""), 0u);
  EXPECT_EQ(complete_sentences_end("Hello there"), 0u);
  EXPECT_EQ(complete_sentences_end("Hello there."), 0u);  // more may follow: "there.com"
  EXPECT_EQ(complete_sentences_end("One. Two"), 5u);
  EXPECT_EQ(complete_sentences_end("One! Two? Three"), 10u);
  EXPECT_EQ(complete_sentences_end("He said \"stop.\" Then"), 16u);
  EXPECT_EQ(complete_sentences_end("Wait\xE2\x80\xA6 more"), 8u);
  EXPECT_EQ(complete_sentences_end("A list\nnext"), 7u);
  EXPECT_EQ(complete_sentences_end("3.5 apples"), 0u);
}
