#include "voice-card.h"

std::optional<int> VoiceCard::speaker_named(const std::string &name) const {
  for (int id = 0; id < n_speakers(); ++id) {
    if (!name.empty() && speaker_names[id] == name) return id;
  }
  return std::nullopt;
}

nlohmann::json voice_card_json(const VoiceCard &card) {
  nlohmann::json speakers = nlohmann::json::array();
  for (int id = 0; id < card.n_speakers(); ++id) {
    nlohmann::json speaker{{"id", id}};
    if (!card.speaker_names[id].empty()) speaker["name"] = card.speaker_names[id];
    speakers.push_back(speaker);
  }
  return {
      {"name", card.name},
      {"file", card.file},
      {"sample_rate", card.sample_rate},
      {"output_sample_rate", 48000},
      {"front_end", card.front_end},
      {"n_speakers", card.n_speakers()},
      {"speakers", speakers},
      {"defaults",
       {{"noise_scale", card.noise_scale},
        {"noise_scale_w", card.noise_scale_w},
        {"length_scale", card.length_scale}}},
      {"response_formats", {"wav", "pcm"}},
  };
}
