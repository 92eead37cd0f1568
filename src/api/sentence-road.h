#pragma once
// A request spoken sentence by sentence: each sentence read (and normalised)
// on its own, as one utterance or several where it does not fit in one, with
// the request's silence between sentences and word timings on the way.
// Only one sentence's text, ids and latents are held at a time. The korva
// front-end reads each sentence word by word, with word timings; another reads
// it whole, in pieces that fit, and knows no words.

#include <cstddef>
#include <string_view>
#include <vector>

#include "api/request.h"
#include "api/sample-clock.h"
#include "api/synthesis.h"
#include "text/phonemizer.h"
#include "text/sourced-text.h"
#include "text/utterances.h"

class FrontEnd;
class WaveSink;

class SentenceRoad {
 public:
  // `request` has no seed of its own: the caller has set the counter.
  SentenceRoad(KorvaVITSImpl &model, const VoiceFacts &voice, const FrontEnd &front_end,
               const Request &request, WaveSink &sink)
      : model_(model),
        voice_(voice),
        front_end_(front_end),
        request_(request),
        sink_(sink),
        clock_(request.voice_rate, request.output_rate) {}

  // Speaks `text`, whose first byte is byte `base` of the request's text.
  Outcome speak_text(std::string_view text, size_t base);
  // Speaks an SSML document; malformed markup is reported, nothing spoken.
  Outcome speak_ssml(std::string_view document);

 private:
  Outcome speak_sentences(const SourcedText &text, float rate, bool new_sentence);
  Outcome speak_sentence(const SourcedText &written, float rate, bool new_sentence);
  Outcome speak_pieces(const SourcedText &spoken, float rate, bool new_sentence);
  Outcome speak_items(const std::vector<PhonemeItem> &items, const SourcedText &spoken, float rate,
                      bool new_sentence);
  Outcome speak_utterances(const std::vector<Utterance> &utterances, const SourcedText &spoken,
                           float rate, bool new_sentence);
  Outcome speak_nothing(size_t base);
  bool silence(int64_t samples);

  KorvaVITSImpl &model_;
  const VoiceFacts &voice_;
  const FrontEnd &front_end_;
  const Request &request_;
  WaveSink &sink_;
  SampleClock clock_;
  bool spoken_any_ = false;
  bool paused_ = false;  // the last thing sent was a break: no sentence silence after it
};
