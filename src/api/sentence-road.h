#pragma once
// A request's text read sentence by sentence: each sentence read (and
// normalised) on its own, through the voice's front-end, as one utterance or
// several where it does not fit in one or the voice's pipeline cuts it, with
// the request's silence between sentences and SSML breaks where asked. The
// utterances go to a target: the voice that speaks them, or a list of ids.
// Only one sentence's text and ids are held at a time.

#include <cstddef>
#include <string_view>
#include <vector>

#include "api/request.h"
#include "api/synthesis.h"
#include "text/phoneme-text.h"
#include "text/phonemizer.h"
#include "text/sourced-text.h"
#include "text/utterances.h"

class FrontEnd;

// Where the road hands what it reads.
class UtteranceTarget {
 public:
  virtual ~UtteranceTarget() = default;
  // One utterance, its words pointing into `spoken`, at `rate` times the
  // request's speaking rate. Failures are reported where they arise.
  virtual Outcome speak(const Utterance &utterance, const SourcedText &spoken, float rate) = 0;
  // Seconds of silence; false when the caller stopped.
  virtual bool pause(float seconds) = 0;
};

class SentenceRoad {
 public:
  SentenceRoad(const VoiceFacts &voice, const FrontEnd &front_end, const Request &request,
               UtteranceTarget &target)
      : voice_(voice),
        front_end_(front_end),
        request_(request),
        target_(target),
        split_(request.split_sentences) {}

  // Reads `text` as the request says (plain or SSML). Throws
  // std::runtime_error when the front-end cannot read it.
  Outcome speak(std::string_view text);
  // Reads `text` whole as one utterance (as many as the voice's pipeline
  // makes of it), as the seven functions always have; a text over the id
  // limit is read sentence by sentence.
  Outcome speak_whole(std::string_view text);

 private:
  Outcome speak_text(std::string_view text, size_t base);
  Outcome speak_ssml(std::string_view document);
  Outcome speak_sentences(const SourcedText &text, float rate, bool new_sentence);
  Outcome speak_sentence(const SourcedText &written, float rate, bool new_sentence);
  Outcome speak_utterances(const std::vector<Utterance> &utterances, const SourcedText &spoken,
                           float rate, bool new_sentence);
  Outcome speak_nothing(size_t base);

  const VoiceFacts &voice_;
  const FrontEnd &front_end_;
  const Request &request_;
  UtteranceTarget &target_;
  bool split_;
  DroppedSymbols dropped_;
  bool spoken_any_ = false;
  bool paused_ = false;  // the last thing sent was a break: no sentence silence after it
  bool blank_ = false;   // the request's text is only white space
};
