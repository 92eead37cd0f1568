// The voice description record: what it sets, and that every bad field is
// refused with a message naming it.

#include <gtest/gtest.h>

#include <string>

#include "voice/voice-json.h"

namespace {

// The record a converter writes for a Piper-like voice with four speakers.
const char *kPiperLike = R"({
  "format": 1, "sample_rate": 22050, "n_vocab": 256,
  "text_encoder": {"inter_channels": 192, "hidden_channels": 192, "filter_channels": 768,
                   "n_heads": 2, "n_layers": 6, "kernel_size": 3, "window_size": 4},
  "duration_predictor": {"kind": "stochastic", "filter_channels": 192, "kernel_size": 3,
                         "n_dds_layers": 3, "n_flows": 4, "num_bins": 10, "tail_bound": 5.0},
  "flow": {"n_couplings": 4, "kernel_size": 5, "dilation_rate": 1, "n_layers": 4},
  "decoder": {"resblock": "2", "resblock_kernel_sizes": [3, 5, 7],
              "resblock_dilation_sizes": [[1, 2], [2, 6], [3, 12]],
              "upsample_rates": [8, 8, 4], "upsample_kernel_sizes": [16, 16, 8],
              "upsample_initial_channel": 256},
  "speakers": {"n_speakers": 4, "gin_channels": 512, "names": {"amy": 0, "bob": 3}},
  "front_end": {"kind": "espeak", "language": "en-us",
                "symbols": {"_": [0], "^": [1], "$": [2], "a": [14, 15], "ˈ": [120]},
                "blank": 0, "start": 1, "end": 2},
  "inference": {"noise_scale": 0.667, "noise_scale_w": 0.8, "length_scale": 1.0}
})";

std::string refusal(const std::string &json) {
  try {
    parse_voice_description(json);
  } catch (const VoiceError &error) {
    return error.what();
  }
  return "(accepted)";
}

TEST(VoiceJson, FormatAloneIsTheConstructedVoice) {
  const VoiceDescription voice = parse_voice_description(R"({"format": 1})");
  const VoiceDescription constructed;
  EXPECT_EQ(voice.sample_rate, 48000);
  EXPECT_EQ(voice.text_encoder.n_vocab, 49);
  EXPECT_EQ(voice.flow.kernel_size, 11);
  EXPECT_EQ(voice.flow.n_layers, 8);
  EXPECT_EQ(voice.decoder.upsample_rates, constructed.decoder.upsample_rates);
  EXPECT_EQ(voice.decoder.samples_per_frame(), 512);
  EXPECT_EQ(voice.decoder.upsample_initial_channel, 1024);
  EXPECT_FALSE(voice.speakers.conditioned());
  EXPECT_EQ(voice.front_end.kind, FrontEndKind::kKorva);
  // Only the constructed voice's own archive carries the training-only networks.
  EXPECT_FALSE(voice.duration_predictor.training_parts);
  EXPECT_TRUE(constructed.duration_predictor.training_parts);
}

TEST(VoiceJson, ReadsEveryField) {
  const VoiceDescription voice = parse_voice_description(kPiperLike);
  EXPECT_EQ(voice.sample_rate, 22050);
  EXPECT_EQ(voice.text_encoder.n_vocab, 256);
  EXPECT_EQ(voice.flow.kernel_size, 5);
  EXPECT_EQ(voice.flow.n_layers, 4);
  EXPECT_EQ(voice.decoder.resblock, 2);
  EXPECT_EQ(voice.decoder.resblock_dilation_sizes[2], (std::vector<int32_t>{3, 12}));
  EXPECT_EQ(voice.decoder.samples_per_frame(), 256);
  EXPECT_TRUE(voice.speakers.conditioned());
  EXPECT_EQ(voice.speakers.gin_channels, 512);
  EXPECT_EQ(voice.speakers.names.at("bob"), 3);
  EXPECT_EQ(voice.front_end.kind, FrontEndKind::kEspeak);
  EXPECT_EQ(voice.front_end.symbols.at("a"), 14);  // the first of its ids
  EXPECT_EQ(voice.front_end.symbols.at("ˈ"), 120);
  EXPECT_EQ(voice.front_end.start, 1);
  EXPECT_FLOAT_EQ(voice.inference.noise_scale_w, 0.8f);
  EXPECT_STREQ(front_end_name(voice.front_end.kind), "espeak");
}

TEST(VoiceJson, NullBlankMeansNone) {
  const VoiceDescription voice = parse_voice_description(
      R"({"format": 1, "front_end": {"kind": "characters", "symbols": {"a": [3]}, "blank": null}})");
  EXPECT_FALSE(voice.front_end.blank.has_value());
}

struct BadCase {
  const char *json;
  const char *message;  // the refusal must contain it
};

TEST(VoiceJson, RefusesEachBadFieldByName) {
  const BadCase cases[] = {
      {"[1]", "(top level): must be an object"},
      {"{\"format\": 1,", "not valid JSON"},
      {R"({"sample_rate": 22050})", "format: missing"},
      {R"({"format": 2})", "format: must be an integer from 1 to 1"},
      {R"({"format": 1, "sampel_rate": 22050})", "sampel_rate: unknown key"},
      {R"({"format": 1, "sample_rate": "22050"})", "sample_rate: must be an integer"},
      {R"({"format": 1, "sample_rate": 22050.5})", "sample_rate: must be an integer"},
      {R"({"format": 1, "n_vocab": 0})", "n_vocab: must be an integer from 1"},
      {R"({"format": 1, "text_encoder": {"n_heads": 5}})", "text_encoder.n_heads: must divide"},
      {R"({"format": 1, "text_encoder": {"inter_channels": 191}})",
       "text_encoder.inter_channels: must be even"},
      {R"({"format": 1, "text_encoder": {"kernel_size": 4}})", "text_encoder.kernel_size: must be odd"},
      {R"({"format": 1, "text_encoder": 3})", "text_encoder: must be an object"},
      {R"({"format": 1, "duration_predictor": {"kind": "fancy"}})",
       "duration_predictor.kind: must be one of \"stochastic\", \"deterministic\""},
      {R"({"format": 1, "duration_predictor": {"tail_bound": 0}})",
       "duration_predictor.tail_bound: must be a number above"},
      {R"({"format": 1, "flow": {"dilation_rate": 8, "n_layers": 40}})", "flow.n_layers: the couplings"},
      {R"({"format": 1, "flow": {"kernel_size": 6}})", "flow.kernel_size: must be odd"},
      {R"({"format": 1, "decoder": {"resblock": 1}})", "decoder.resblock: must be one of"},
      {R"({"format": 1, "decoder": {"upsample_rates": [8, 8, 4]}})",
       "decoder.upsample_kernel_sizes: must have one kernel per upsample rate"},
      {R"({"format": 1, "decoder": {"upsample_rates": [8, 8, 4, 3]}})",
       "decoder.upsample_kernel_sizes[3]: must be at least the rate"},
      {R"({"format": 1, "decoder": {"upsample_rates": [], "upsample_kernel_sizes": []}})",
       "decoder.upsample_rates: must be an array of 1 to 8"},
      {R"({"format": 1, "decoder": {"upsample_rates": [8, 0, 4, 2]}})", "decoder.upsample_rates[1]:"},
      {R"({"format": 1, "decoder": {"resblock_dilation_sizes": [[1, 3], [1, 3]]}})",
       "decoder.resblock_dilation_sizes: must have one list per resblock kernel"},
      {R"({"format": 1, "decoder": {"resblock_dilation_sizes": [[1], [1], ["x"]]}})",
       "decoder.resblock_dilation_sizes[2][0]:"},
      {R"({"format": 1, "decoder": {"resblock_kernel_sizes": [3, 8, 11]}})",
       "decoder.resblock_kernel_sizes[1]: must be odd"},
      {R"({"format": 1, "decoder": {"upsample_initial_channel": 100}})",
       "decoder.upsample_initial_channel: must be divisible by 2^4"},
      {R"({"format": 1, "speakers": {"n_speakers": 4}})", "speakers.gin_channels: must be positive"},
      {R"({"format": 1, "speakers": {"n_speakers": 4, "gin_channels": 8, "names": {"x": 4}}})",
       "speakers.names.x: speaker 4 of 4"},
      {R"({"format": 1, "speakers": {"names": {"x": "0"}}})", "speakers.names.x: must be an integer"},
      {R"({"format": 1, "front_end": {"kind": "espeak"}})", "front_end.symbols: missing"},
      {R"({"format": 1, "front_end": {"kind": "espeak", "symbols": {"ab": [1]}}})",
       "front_end.symbols.ab: an espeak symbol is one code point"},
      {R"({"format": 1, "front_end": {"kind": "espeak", "symbols": {"a": [49]}}})",
       "front_end.symbols.a: id 49 outside the vocabulary of 49"},
      {R"({"format": 1, "front_end": {"kind": "espeak", "symbols": {"a": []}}})",
       "front_end.symbols.a: must be an array of 1 to"},
      {R"({"format": 1, "front_end": {"kind": "characters", "symbols": {"a": [1]}, "blank": 99}})",
       "front_end.blank: id 99 outside"},
      {R"({"format": 1, "front_end": {"symbols": {"a": [1]}}})",
       "front_end.symbols: the korva front-end has its own table"},
      {R"({"format": 1, "n_vocab": 40})", "n_vocab: the korva front-end needs at least 49"},
      {R"({"format": 1, "inference": {"length_scale": 0}})", "inference.length_scale: must be a number"},
      {R"({"format": 1, "inference": {"noise_scale": -1}})", "inference.noise_scale: must be a number"},
  };
  for (const BadCase &c : cases) {
    const std::string message = refusal(c.json);
    EXPECT_NE(message.find(c.message), std::string::npos)
        << c.json << "\n  gave: " << message << "\n  wanted: " << c.message;
    EXPECT_EQ(message.rfind("voice.json: ", 0), 0u) << message;
  }
}

}  // namespace

TEST(VoiceJson, ReadsPiperFields) {
  const VoiceDescription voice = parse_voice_description(R"({"format": 1, "n_vocab": 8,
    "front_end": {"kind": "piper", "language": "en-gb-x-rp",
                  "symbols": {"_": [0], "^": [1], "$": [2], "a": [3], "ɐ": [4]},
                  "blank": 0, "start": 1, "end": 2, "phoneme_map": {"ɐ": ["a", "a"], "x": []},
                  "sentence_silence": 0.3, "phoneme_silence": {",": 0.1}}})");
  EXPECT_EQ(voice.front_end.kind, FrontEndKind::kPiper);
  EXPECT_STREQ(front_end_name(voice.front_end.kind), "piper");
  EXPECT_EQ(voice.front_end.language, "en-gb-x-rp");
  EXPECT_EQ(voice.front_end.phoneme_map.at("ɐ"), (std::vector<std::string>{"a", "a"}));
  EXPECT_TRUE(voice.front_end.phoneme_map.at("x").empty());
  EXPECT_FLOAT_EQ(*voice.front_end.sentence_silence, 0.3f);
  EXPECT_FLOAT_EQ(voice.front_end.phoneme_silence.at(","), 0.1f);
}

TEST(VoiceJson, RefusesBadPiperFields) {
  const std::string head = R"({"format": 1, "n_vocab": 8, "front_end": {"kind": )";
  const std::string table = R"("symbols": {"a": [3]}, )";
  EXPECT_NE(refusal(head + R"("piper", )" + table + R"("phoneme_map": {"a": "b"}}})")
                .find("front_end.phoneme_map.a: must be an array"),
            std::string::npos);
  EXPECT_NE(refusal(head + R"("piper", )" + table + R"("phoneme_map": {"a": [""]}}})")
                .find("must hold non-empty strings"),
            std::string::npos);
  EXPECT_NE(refusal(head + R"("piper", )" + table + R"("phoneme_silence": {",": -1}}})")
                .find("front_end.phoneme_silence.,: must be a number from 0 to 60"),
            std::string::npos);
  EXPECT_NE(refusal(head + R"("piper", )" + table + R"("sentence_silence": "x"}})")
                .find("front_end.sentence_silence"),
            std::string::npos);
  EXPECT_NE(refusal(head + R"("espeak", )" + table + R"("sentence_silence": 0.2}})")
                .find("piper's alone"),
            std::string::npos);
}
