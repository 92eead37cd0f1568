// The voice shelf on the library's process-wide voice: one voice, whose
// calls the library serialises.

#include <filesystem>
#include <stdexcept>

#include "voice-shelf.h"

namespace {

VoiceCard loaded_card(const VoiceSource &source) {
  korva_voice_info info;
  if (korva_get_voice_info(&info, sizeof info) != 0) throw std::runtime_error("no voice loaded");
  VoiceCard card;
  card.name = source.name;
  card.file = std::filesystem::path(source.path).filename().string();
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

class EngineShelf : public VoiceShelf {
 public:
  EngineShelf(const VoiceSource &source, const std::string &espeak_data) {
    const char *espeak = espeak_data.empty() ? nullptr : espeak_data.c_str();
    if (korva_load(source.path.c_str(), espeak) != 0) {
      throw std::runtime_error("cannot load the voice '" + source.path + "': " +
                               korva_last_error());
    }
    cards_.push_back(loaded_card(source));
  }
  ~EngineShelf() override { korva_unload(); }

  const std::vector<VoiceCard> &voices() const override { return cards_; }

  int synthesize(size_t, const std::string &text, const korva_options &options,
                 korva_audio_cb on_audio, void *user, std::string *error) override {
    if (korva_synthesize(text.c_str(), &options, on_audio, user) == 0) return 0;
    *error = korva_last_error();
    return -1;
  }

 private:
  std::vector<VoiceCard> cards_;
};

}  // namespace

std::unique_ptr<VoiceShelf> load_voice_shelf(const std::vector<VoiceSource> &sources,
                                             const std::string &espeak_data) {
  if (sources.size() != 1) {
    throw std::runtime_error("this build speaks one voice per process; " +
                             std::to_string(sources.size()) + " were given");
  }
  return std::make_unique<EngineShelf>(sources.front(), espeak_data);
}
