#pragma once
// The voices a server speaks with, behind the one door every request goes
// through, HTTP or Wyoming: look a voice up, speak with it.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "korva.h"
#include "voice-card.h"

// One voice as the command line names it.
struct VoiceSource {
  std::string name;
  std::string path;  // its weights archive
};

class VoiceShelf {
 public:
  virtual ~VoiceShelf() = default;

  // Every voice, in the order given; the first is the default.
  virtual const std::vector<VoiceCard> &voices() const = 0;

  // Speaks `text` with voice number `voice` as korva_synthesize does; 0, or
  // -1 with the library's reason in *error. Called from the synthesis threads.
  virtual int synthesize(size_t voice, const std::string &text, const korva_options &options,
                         korva_audio_cb on_audio, void *user, std::string *error) = 0;

  // The number of the voice called `name`.
  std::optional<size_t> find(const std::string &name) const;
  // Every voice's name, quoted and joined: for messages that list them.
  std::string names() const;
};

// How the voices are opened.
struct VoiceLoading {
  std::string espeak_data;  // espeak-ng's data directory; empty: its own
  int threads = 0;          // threads of each request; 0: the library shares the
                            // machine's cores among the requests running
};

// Opens each voice of `sources` once; throws std::runtime_error naming the
// voice that could not be loaded.
std::unique_ptr<VoiceShelf> load_voice_shelf(const std::vector<VoiceSource> &sources,
                                             const VoiceLoading &loading);
