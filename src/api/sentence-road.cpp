#include "api/sentence-road.h"

#include <ATen/record_function.h>

#include <cstdio>
#include <string>

#include "api/error-report.h"
#include "log/log.h"
#include "text/fitting-utterances.h"
#include "text/front-end.h"
#include "text/sentences.h"
#include "text/spoken-form.h"
#include "text/ssml.h"
#include "text/tokenizer.h"

namespace {

SourcedText verbatim(std::string_view text, size_t offset) {
  SourcedText sourced;
  sourced.append_verbatim(text, offset);
  return sourced;
}

// The tokenizer cuts at kMaxTokens: a cut sequence has a blank where its end id would be.
bool was_cut(const std::vector<int32_t> &ids) {
  return ids.size() >= static_cast<size_t>(kMaxTokens) && ids.back() != kTokenEnd;
}

}  // namespace

Outcome SentenceRoad::speak(std::string_view text) {
  blank_ = text.find_first_not_of(" \t\r\n") == std::string_view::npos;
  return request_.ssml ? speak_ssml(text) : speak_text(text, 0);
}

Outcome SentenceRoad::speak_whole(std::string_view text) {
  std::vector<Utterance> whole;
  bool fits = true;
  {
    RECORD_USER_SCOPE("korva::frontend");
    if (voice_.korva_front_end) {
      whole.emplace_back();
      whole.back().ids = korva_whole_text_ids(std::string(text).c_str());
      fits = !was_cut(whole.back().ids);
    } else if (too_long_to_read_whole(text, static_cast<size_t>(kMaxTokens))) {
      fits = false;  // to sentences at once: its first audio comes as soon as a short text's
    } else {
      whole = front_end_.utterances(text, dropped_);
      for (const Utterance &u : whole) fits = fits && u.ids.size() <= static_cast<size_t>(kMaxTokens);
    }
  }
  if (fits) return whole.empty() ? speak_nothing(0) : speak_utterances(whole, verbatim(text, 0), 1.0f, true);
  log_line(LogLevel::kInfo, "[korva] Text over %d token ids: spoken sentence by sentence",
           kMaxTokens);
  split_ = true;
  return speak_text(text, 0);
}

Outcome SentenceRoad::speak_text(std::string_view text, size_t base) {
  Outcome outcome = Outcome::kDone;
  if (!split_) {
    outcome = speak_sentence(verbatim(text, base), 1.0f, true);
  } else {
    for (TextSpan s = next_sentence(text, 0); outcome == Outcome::kDone && s.length > 0;
         s = next_sentence(text, s.end())) {
      outcome =
          speak_sentence(verbatim(text.substr(s.offset, s.length), base + s.offset), 1.0f, true);
    }
  }
  return outcome != Outcome::kDone || spoken_any_ ? outcome : speak_nothing(base);
}

Outcome SentenceRoad::speak_ssml(std::string_view document) {
  std::string error;
  std::vector<std::string> warnings;
  const auto parts = parse_ssml(document, &error, &warnings);
  for (const std::string &warning : warnings)
    log_line(LogLevel::kWarning, "[korva] WARNING: %s", warning.c_str());
  if (!parts) {
    record_error("%s", error.c_str());
    return Outcome::kFailed;
  }
  for (const SsmlPart &part : *parts) {
    Outcome outcome = Outcome::kDone;
    switch (part.kind) {
      case SsmlPart::Kind::kBreak:
        if (!target_.pause(static_cast<float>(part.break_ms) / 1000.0f)) return Outcome::kStopped;
        paused_ = true;
        break;
      case SsmlPart::Kind::kPhonemes:
        if (voice_.korva_front_end) {
          outcome = speak_utterances(utterances_of({{0, part.text.text.size(), part.phonemes, true}}),
                                     part.text, part.rate, part.new_sentence);
        } else {
          log_line(LogLevel::kWarning,
                   "[korva] WARNING: <phoneme> is read by the korva front-end only: its words "
                   "are spoken");
          outcome = speak_sentences(part.text, part.rate, part.new_sentence);
        }
        break;
      case SsmlPart::Kind::kText:
        outcome = speak_sentences(part.text, part.rate, part.new_sentence);
        break;
    }
    if (outcome != Outcome::kDone) return outcome;
  }
  return spoken_any_ ? Outcome::kDone : speak_nothing(0);
}

Outcome SentenceRoad::speak_sentences(const SourcedText &text, float rate, bool new_sentence) {
  for (TextSpan s = next_sentence(text.text, 0); s.length > 0;
       s = next_sentence(text.text, s.end())) {
    const Outcome outcome = speak_sentence(text.slice(s), rate, new_sentence || s.offset > 0);
    if (outcome != Outcome::kDone) return outcome;
  }
  return Outcome::kDone;
}

Outcome SentenceRoad::speak_sentence(const SourcedText &written, float rate, bool new_sentence) {
  SourcedText normalised;
  if (request_.normalize) {
    RECORD_USER_SCOPE("korva::normalise");
    normalised = spoken_form(written, front_end_.reading_style());
  }
  const SourcedText &spoken = request_.normalize ? normalised : written;
  std::vector<Utterance> utterances;
  {
    RECORD_USER_SCOPE("korva::frontend");
    utterances =
        fitting_utterances(front_end_, spoken.text, static_cast<size_t>(kMaxTokens), dropped_);
  }
  // A sentence of nothing the voice can say ("123" read raw) is passed over.
  return speak_utterances(utterances, spoken, rate, new_sentence);
}

Outcome SentenceRoad::speak_nothing(size_t base) {
  // Nothing to say is said as the korva front-end has always said an empty text.
  if (voice_.korva_front_end) return speak_utterances(utterances_of({}), verbatim("", base), 1.0f, true);
  record_error("%s", blank_ ? "Nothing to speak: the text is empty"
                            : "No symbol of the text is in the voice's table");
  return Outcome::kFailed;
}

Outcome SentenceRoad::speak_utterances(const std::vector<Utterance> &utterances,
                                       const SourcedText &spoken, float rate, bool new_sentence) {
  for (size_t i = 0; i < utterances.size(); ++i) {
    const Utterance &utterance = utterances[i];
    const bool sentence = i == 0 ? new_sentence : utterance.starts_sentence;
    if (spoken_any_ && sentence && !paused_ && !target_.pause(request_.sentence_silence))
      return Outcome::kStopped;
    spoken_any_ = true;
    paused_ = false;
    const Outcome outcome = target_.speak(utterance, spoken, rate);
    if (outcome != Outcome::kDone) return outcome;
    if (utterance.silence_after > 0.0f && !target_.pause(utterance.silence_after))
      return Outcome::kStopped;
  }
  return Outcome::kDone;
}
