#pragma once
// A voice shelf without a model, for the server's parts: two voices ("ann",
// 16 kHz with speakers "x" and "y"; "bob", 22.05 kHz with one speaker) that
// "speak" one chunk of 100 samples per byte of text, each sample the speaker's
// id + 1 over 10 (so that tests can tell who spoke). A text "fail: REASON"
// fails with REASON.

#include <atomic>
#include <memory>

#include "voice-shelf.h"

class FakeShelf : public VoiceShelf {
 public:
  FakeShelf();
  const std::vector<VoiceCard> &voices() const override { return cards_; }
  int synthesize(size_t voice, const std::string &text, const korva_options &options,
                 korva_audio_cb on_audio, void *user, std::string *error) override;

  std::atomic<int> spoken{0};  // syntheses run

 private:
  std::vector<VoiceCard> cards_;
};

constexpr int kFakeSamplesPerByte = 100;
