#pragma once
// The voice speaking a request's utterances: each through the model, its word
// timings to the caller, its audio down the request's one output chain, and
// pauses as silence at the output rate.

#include "api/output-chain.h"
#include "api/sentence-road.h"

struct KorvaVITSImpl;

class VoiceOutput : public UtteranceTarget {
 public:
  // Throws std::runtime_error when the output chain cannot be made.
  VoiceOutput(KorvaVITSImpl &model, const VoiceFacts &voice, const Request &request,
              WaveSink &caller)
      : model_(model), voice_(voice), request_(request), chain_(request, caller) {}

  Outcome speak(const Utterance &utterance, const SourcedText &spoken, float rate) override;
  bool pause(float seconds) override;

 private:
  KorvaVITSImpl &model_;
  const VoiceFacts &voice_;
  const Request &request_;
  OutputChain chain_;
};
