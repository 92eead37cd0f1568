#include "voice-shelf.h"

std::optional<size_t> VoiceShelf::find(const std::string &name) const {
  const std::vector<VoiceCard> &cards = voices();
  for (size_t i = 0; i < cards.size(); ++i) {
    if (cards[i].name == name) return i;
  }
  return std::nullopt;
}

std::string VoiceShelf::names() const {
  std::string joined;
  for (const VoiceCard &card : voices()) joined += (joined.empty() ? "\"" : ", \"") + card.name + "\"";
  return joined;
}
