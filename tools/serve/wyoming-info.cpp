#include "wyoming-info.h"

#include <string>

#include "korva.h"

namespace {

using nlohmann::json;

const json kAttribution{{"name", "korva"}, {"url", nullptr}};

std::string version() {
  return std::to_string(KORVA_VERSION_MAJOR) + "." + std::to_string(KORVA_VERSION_MINOR);
}

json voice_json(const VoiceCard &card) {
  return {{"name", card.name},
          {"attribution", kAttribution},
          {"installed", true},
          {"description", card.file + ", " + std::to_string(card.sample_rate) + " Hz, " +
                              card.front_end + " front-end"},
          {"version", nullptr},
          {"languages", json::array({kWyomingLanguage})},
          {"speakers", wyoming_speakers(card)}};
}

}  // namespace

json wyoming_speakers(const VoiceCard &card) {
  if (card.n_speakers() <= 1) return nullptr;
  json speakers = json::array();
  for (int id = 0; id < card.n_speakers(); ++id) {
    const std::string &name = card.speaker_names[id];
    speakers.push_back({{"name", name.empty() ? std::to_string(id) : name}});
  }
  return speakers;
}

json wyoming_info(const VoiceShelf &shelf) {
  json voices = json::array();
  for (const VoiceCard &card : shelf.voices()) voices.push_back(voice_json(card));
  const json program{{"name", "korva"},
                     {"attribution", kAttribution},
                     {"installed", true},
                     {"description", "korva text to speech"},
                     {"version", version()},
                     {"voices", voices},
                     {"supports_synthesize_streaming", true}};
  return {{"asr", json::array()},    {"tts", json::array({program})},  {"handle", json::array()},
          {"intent", json::array()}, {"wake", json::array()}, {"mic", json::array()},
          {"snd", json::array()}};
}
