#include "fake-shelf.h"

#include <vector>

FakeShelf::FakeShelf() {
  VoiceCard ann;
  ann.name = "ann";
  ann.file = "ann.pt";
  ann.sample_rate = 16000;
  ann.front_end = "korva";
  ann.speaker_names = {"x", "y"};
  VoiceCard bob;
  bob.name = "bob";
  bob.file = "bob.pt";
  bob.sample_rate = 22050;
  bob.front_end = "espeak";
  bob.speaker_names = {""};
  cards_ = {ann, bob};
}

int FakeShelf::synthesize(size_t, const std::string &text, const korva_options &options,
                          korva_audio_cb on_audio, void *user, std::string *error) {
  ++spoken;
  if (text.rfind("fail: ", 0) == 0) {
    *error = text.substr(6);
    return -1;
  }
  const std::vector<float> chunk(kFakeSamplesPerByte, (options.speaker + 1) / 10.0f);
  for (size_t i = 0; i < text.size(); ++i) {
    if (on_audio(chunk.data(), static_cast<int>(chunk.size()), user) != 0) break;
  }
  return 0;
}
