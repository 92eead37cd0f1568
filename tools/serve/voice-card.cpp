#include "voice-card.h"

#include <filesystem>
#include <stdexcept>

#include "korva.h"

std::optional<int> VoiceCard::speaker_named(const std::string &name) const {
  for (int id = 0; id < n_speakers(); ++id) {
    if (!name.empty() && speaker_names[id] == name) return id;
  }
  return std::nullopt;
}

VoiceCard read_voice_card(const std::string &archive_path) {
  korva_voice_info info;
  if (korva_get_voice_info(&info, sizeof info) != 0) {
    throw std::runtime_error("no voice loaded");
  }
  VoiceCard card;
  card.name = std::filesystem::path(archive_path).filename().string();
  card.sample_rate = info.sample_rate;
  card.front_end = info.front_end ? info.front_end : "";
  card.noise_scale = info.noise_scale;
  card.noise_scale_w = info.noise_scale_w;
  card.length_scale = info.length_scale;
  for (int id = 0; id < info.n_speakers; ++id) {
    const char *name = korva_speaker_name(id);
    card.speaker_names.emplace_back(name ? name : "");
  }
  return card;
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
