// The voice shelf on the library's voice handles: each voice opened once, all
// of them spoken with from any number of threads at once.

#include <filesystem>
#include <memory>
#include <stdexcept>

#include "voice-shelf.h"

namespace {

struct CloseVoice {
  void operator()(korva_voice *voice) const { korva_voice_close(voice); }
};
using VoiceHandle = std::unique_ptr<korva_voice, CloseVoice>;

VoiceCard card_of(korva_voice *voice, const VoiceSource &source) {
  korva_voice_info info;
  if (korva_voice_get_info(voice, &info, sizeof info) != 0) {
    throw std::runtime_error("cannot read the voice '" + source.path + "': " + korva_last_error());
  }
  VoiceCard card;
  card.name = source.name;
  card.file = std::filesystem::path(source.path).filename().string();
  card.sample_rate = info.sample_rate;
  card.front_end = info.front_end ? info.front_end : "";
  card.noise_scale = info.noise_scale;
  card.noise_scale_w = info.noise_scale_w;
  card.length_scale = info.length_scale;
  for (int id = 0; id < info.n_speakers; ++id) {
    const char *name = korva_voice_speaker_name(voice, id);
    card.speaker_names.emplace_back(name ? name : "");
  }
  return card;
}

class HandleShelf : public VoiceShelf {
 public:
  HandleShelf(const std::vector<VoiceSource> &sources, const VoiceLoading &loading) {
    korva_voice_config config;
    korva_voice_config_default(&config, sizeof config);
    config.espeak_data = loading.espeak_data.empty() ? nullptr : loading.espeak_data.c_str();
    config.intra_op_threads = loading.threads;
    for (const VoiceSource &source : sources) {
      VoiceHandle voice(korva_voice_open(source.path.c_str(), &config));
      if (!voice) {
        throw std::runtime_error("cannot load the voice '" + source.path + "': " +
                                 korva_last_error());
      }
      cards_.push_back(card_of(voice.get(), source));
      voices_.push_back(std::move(voice));
    }
  }

  const std::vector<VoiceCard> &voices() const override { return cards_; }

  int synthesize(size_t voice, const std::string &text, const korva_options &options,
                 korva_audio_cb on_audio, void *user, std::string *error) override {
    if (korva_voice_synthesize(voices_.at(voice).get(), text.c_str(), &options, on_audio, user) ==
        0)
      return 0;
    *error = korva_last_error();
    return -1;
  }

 private:
  std::vector<VoiceHandle> voices_;
  std::vector<VoiceCard> cards_;
};

}  // namespace

std::unique_ptr<VoiceShelf> load_voice_shelf(const std::vector<VoiceSource> &sources,
                                             const VoiceLoading &loading) {
  return std::make_unique<HandleShelf>(sources, loading);
}
