#pragma once
// What the server tells of one of its voices, read once after loading, so
// that answering about a voice never waits for a synthesis.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

struct VoiceCard {
  std::string name;     // the server's name for it: what requests give as "voice"
  std::string file;     // the weights archive's file name, without its directory
  int sample_rate = 0;  // Hz, the voice's own (HTTP answers are at 48 000 Hz)
  std::string front_end;
  float noise_scale = 0.0f;
  float noise_scale_w = 0.0f;
  float length_scale = 0.0f;
  std::vector<std::string> speaker_names;  // one per speaker; "" where the voice names none

  int n_speakers() const { return static_cast<int>(speaker_names.size()); }
  // The id of the speaker called `name`, if the voice has one.
  std::optional<int> speaker_named(const std::string &name) const;
};

// One voice of GET /v1/voices.
nlohmann::json voice_card_json(const VoiceCard &card);
