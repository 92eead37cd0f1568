// The speech server's pieces that need no voice: request bodies to options,
// the audio hand-off, and the PCM and WAV encoding.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "audio-channel.h"
#include "fake-shelf.h"
#include "pcm-encoding.h"
#include "speech-request.h"

namespace {

SpeechRequest parse(const std::string &body) {
  static const FakeShelf shelf;
  return parse_speech_request(body, shelf, 64);
}

// The status and message of the refusal of `body`.
std::pair<int, std::string> refusal(const std::string &body) {
  try {
    parse(body);
  } catch (const BadRequest &bad) {
    return {bad.status, bad.what()};
  }
  return {0, ""};
}

}  // namespace

TEST(SpeechRequest, OpenAiFieldsMapOntoTheOptions) {
  const SpeechRequest r = parse(R"({"model":"tts-1","input":"Hi.","voice":"bob",
                                    "response_format":"pcm","speed":1.5,"extra":[1]})");
  EXPECT_EQ(r.input, "Hi.");
  EXPECT_EQ(r.voice, 1u);
  EXPECT_EQ(r.format, AudioFormat::kPcm);
  EXPECT_FLOAT_EQ(r.options.speed, 1.5f);
  EXPECT_EQ(r.options.speaker, 0);
  EXPECT_EQ(r.options.speaker_name, nullptr);
  EXPECT_EQ(parse(R"({"input":"Hi."})").format, AudioFormat::kWav);
  EXPECT_EQ(parse(R"({"input":"Hi."})").voice, 0u);
}

TEST(SpeechRequest, VoiceNamesAVoiceOrASpeakerOfTheFirstAndSpeakerPicksWithinIt) {
  EXPECT_EQ(parse(R"({"input":"Hi.","voice":"ann"})").voice, 0u);
  const SpeechRequest y = parse(R"({"input":"Hi.","voice":"y"})");
  EXPECT_EQ(y.voice, 0u);
  EXPECT_EQ(y.options.speaker, 1);
  EXPECT_EQ(parse(R"({"input":"Hi.","voice":"y","speaker":"x"})").options.speaker, 0);
  EXPECT_EQ(parse(R"({"input":"Hi.","voice":"ann","speaker":1})").options.speaker, 1);
  // An unknown voice is refused, naming the voices there are.
  const auto [status, message] = refusal(R"({"input":"Hi.","voice":"alloy"})");
  EXPECT_EQ(status, 400);
  EXPECT_NE(message.find("no voice called \"alloy\"; its voices are \"ann\", \"bob\""),
            std::string::npos)
      << message;
  // The speaker is checked against the voice chosen.
  EXPECT_EQ(refusal(R"({"input":"Hi.","voice":"bob","speaker":1})").first, 400);
  EXPECT_EQ(refusal(R"({"input":"Hi.","voice":"bob","speaker":"x"})").first, 400);
}

TEST(SpeechRequest, KorvaFieldsMapOntoTheOptions) {
  const SpeechRequest r = parse(R"({"input":"Hi.","seed":9,"noise_scale":0.3,
      "noise_scale_w":0.4,"length_scale":1.2,"normalize":false,"ssml":true,
      "sentence_silence":0.5})");
  EXPECT_EQ(r.options.seed, 9);
  EXPECT_FLOAT_EQ(r.options.noise_scale, 0.3f);
  EXPECT_FLOAT_EQ(r.options.noise_scale_w, 0.4f);
  EXPECT_FLOAT_EQ(r.options.length_scale, 1.2f);
  EXPECT_EQ(r.options.normalize, 0);
  EXPECT_EQ(r.options.ssml, 1);
  EXPECT_FLOAT_EQ(r.options.sentence_silence, 0.5f);
  EXPECT_EQ(parse(R"({"input":"Hi.","seed":null})").options.seed, KORVA_SEED_NEXT);
}

TEST(SpeechRequest, BadBodiesAreRefusedNamingTheField) {
  const std::pair<const char *, const char *> cases[] = {
      {"{", "not valid JSON"},
      {"\"Hi.\"", "JSON object"},
      {R"({"voice":"bob"})", "\"input\" is missing"},
      {R"({"input":["Hi."]})", "\"input\""},
      {R"({"input":"a\u0000b"})", "NUL"},
      {R"({"input":""})", "\"input\" is empty: there is nothing to speak"},
      {R"({"input":" \n\t "})", "\"input\" is empty"},
      {R"({"input":"Hi.","model":3})", "\"model\""},
      {R"({"input":"Hi.","response_format":"opus"})", "\"response_format\""},
      {R"({"input":"Hi.","speed":4.5})", "\"speed\""},
      {R"({"input":"Hi.","speaker":3})", "\"speaker\""},
      {R"({"input":"Hi.","speaker":1.5})", "\"speaker\""},
      {R"({"input":"Hi.","speaker":"carl"})", "carl"},
      {R"({"input":"Hi.","seed":2147483648})", "\"seed\""},
      {R"({"input":"Hi.","noise_scale":-1})", "\"noise_scale\""},
      {R"({"input":"Hi.","length_scale":0})", "\"length_scale\""},
      {R"({"input":"Hi.","normalize":1})", "\"normalize\""},
      {R"({"input":"Hi.","sentence_silence":11})", "\"sentence_silence\""},
  };
  for (const auto &[body, reason] : cases) {
    const auto [status, message] = refusal(body);
    EXPECT_EQ(status, 400) << body;
    EXPECT_NE(message.find(reason), std::string::npos) << body << " -> " << message;
  }
  EXPECT_EQ(refusal(R"({"input":")" + std::string(65, 'x') + "\"}").first, 413);
  EXPECT_EQ(refusal(R"({"input":")" + std::string(64, 'x') + "\"}").first, 0);
}

TEST(AudioChannel, ChunksArriveInOrderThenTheEnd) {
  AudioChannel channel(4, std::chrono::seconds(5));
  const float a[] = {0.1f, 0.2f}, b[] = {0.3f};
  ASSERT_TRUE(channel.push(a, 2));
  ASSERT_TRUE(channel.push(b, 1));
  channel.finish(0, "");
  std::vector<float> chunk;
  ASSERT_EQ(channel.pop(&chunk), AudioChannel::Event::kChunk);
  EXPECT_EQ(chunk, std::vector<float>({0.1f, 0.2f}));
  ASSERT_EQ(channel.pop(&chunk), AudioChannel::Event::kChunk);
  EXPECT_EQ(chunk, std::vector<float>({0.3f}));
  EXPECT_EQ(channel.pop(&chunk), AudioChannel::Event::kEnd);
  EXPECT_EQ(channel.status(), 0);
}

TEST(AudioChannel, AFullChannelWaitsForTheReaderAndAGoneReaderStopsTheWriter) {
  AudioChannel channel(1, std::chrono::seconds(30));
  const float s[] = {0.5f};
  ASSERT_TRUE(channel.take());
  ASSERT_TRUE(channel.push(s, 1));
  std::thread reader([&] {
    std::vector<float> chunk;
    channel.pop(&chunk);
    channel.pop(&chunk);
    channel.cancel();
  });
  EXPECT_TRUE(channel.push(s, 1));  // waits until the reader takes the first
  reader.join();                    // the second taken, the reader goes
  EXPECT_FALSE(channel.push(s, 1));
  EXPECT_TRUE(channel.cancelled());
}

TEST(AudioChannel, AReaderThatTakesNothingPastTheStallLimitCountsAsGone) {
  AudioChannel channel(1, std::chrono::milliseconds(10));
  const float s[] = {0.5f};
  ASSERT_TRUE(channel.take());
  ASSERT_TRUE(channel.push(s, 1));
  EXPECT_FALSE(channel.push(s, 1));
  EXPECT_TRUE(channel.cancelled());
}

// Every worker may be held by slow clients: the reader must not wait for one of
// them to find its job stale.
TEST(AudioChannel, AJobNoWorkerTookWithinTheLimitEndsItsReaderWith503) {
  AudioChannel waiting(1, std::chrono::milliseconds(10));
  std::vector<float> chunk;
  EXPECT_EQ(waiting.pop(&chunk), AudioChannel::Event::kEnd);
  EXPECT_EQ(waiting.status(), 503);
  EXPECT_EQ(waiting.message(), "the request waited too long for a synthesis thread");
  EXPECT_FALSE(waiting.take());  // the worker that comes later skips it

  // Once taken, the limit is the worker's to keep, per chunk, not the reader's.
  AudioChannel taken(1, std::chrono::milliseconds(10));
  ASSERT_TRUE(taken.take());
  std::thread worker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const float s[] = {0.5f};
    taken.push(s, 1);
    taken.finish(0, "");
  });
  EXPECT_EQ(taken.pop(&chunk), AudioChannel::Event::kChunk);
  EXPECT_EQ(taken.pop(&chunk), AudioChannel::Event::kEnd);
  EXPECT_EQ(taken.status(), 0);
  worker.join();
}

TEST(PcmEncoding, SamplesAreClampedScaledAndTruncated) {
  const float samples[] = {0.0f, 1.0f, -1.0f, 2.0f, -2.0f, 0.5f, NAN};
  std::string bytes;
  append_pcm16(samples, 7, bytes);
  ASSERT_EQ(bytes.size(), 14u);
  int16_t values[7];
  std::memcpy(values, bytes.data(), sizeof values);
  EXPECT_EQ(values[0], 0);
  EXPECT_EQ(values[1], 32767);
  EXPECT_EQ(values[2], -32767);
  EXPECT_EQ(values[3], 32767);
  EXPECT_EQ(values[4], -32767);
  EXPECT_EQ(values[5], 16383);
  EXPECT_EQ(values[6], 0);
}

TEST(PcmEncoding, AWavFileIsCompleteAndPeakNormalised) {
  const std::string wav = wav_file({0.25f, -0.5f, 0.1f}, 48000);
  ASSERT_EQ(wav.size(), 44u + 6u);
  uint32_t riff_size = 0, rate = 0, data_size = 0;
  std::memcpy(&riff_size, wav.data() + 4, 4);
  std::memcpy(&rate, wav.data() + 24, 4);
  std::memcpy(&data_size, wav.data() + 40, 4);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(riff_size, wav.size() - 8);
  EXPECT_EQ(rate, 48000u);
  EXPECT_EQ(data_size, 6u);
  int16_t peak = 0;
  std::memcpy(&peak, wav.data() + 46, 2);
  EXPECT_EQ(peak, static_cast<int16_t>(-0.95f * 32767.0f));
  // Near silence is left as it is.
  const std::string quiet = wav_file({0.005f}, 48000);
  int16_t value = 0;
  std::memcpy(&value, quiet.data() + 44, 2);
  EXPECT_EQ(value, static_cast<int16_t>(0.005f * 32767.0f));
}
