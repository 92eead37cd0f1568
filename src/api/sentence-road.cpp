#include "api/sentence-road.h"

#include <ATen/record_function.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "api/error-report.h"
#include "api/timing-sink.h"
#include "log/log.h"
#include "model/wave-sink.h"
#include "text/fitting-ids.h"
#include "text/sentences.h"
#include "text/spoken-form.h"
#include "text/ssml.h"
#include "text/tokenizer.h"
#include "text/utterances.h"

namespace {

// Silence is written in pieces of this many samples.
constexpr int64_t kSilenceChunk = 4096;

SourcedText verbatim(std::string_view text, size_t offset) {
  SourcedText sourced;
  sourced.append_verbatim(text, offset);
  return sourced;
}

}  // namespace

Outcome SentenceRoad::speak_text(std::string_view text, size_t base) {
  Outcome outcome = Outcome::kDone;
  if (!request_.split_sentences) {
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
        if (!silence(clock_.voice_samples_of(static_cast<float>(part.break_ms) / 1000.0f)))
          return Outcome::kStopped;
        paused_ = true;
        break;
      case SsmlPart::Kind::kPhonemes:
        if (voice_.korva_front_end) {
          outcome = speak_items({{0, part.text.text.size(), part.phonemes, true}}, part.text,
                                part.rate, part.new_sentence);
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
  std::vector<PhonemeItem> items;
  SourcedText normalised;
  if (request_.normalize) {
    RECORD_USER_SCOPE("korva::normalise");
    normalised = spoken_form(written);
  }
  const SourcedText &spoken = request_.normalize ? normalised : written;
  if (!voice_.korva_front_end) return speak_pieces(spoken, rate, new_sentence);
  {
    RECORD_USER_SCOPE("korva::frontend");
    if (!phonemize_items(spoken.text.c_str(), &items)) {
      record_error("Phonemize failed");
      return Outcome::kFailed;
    }
  }
  // A sentence of nothing pronounceable ("123" read raw) is passed over.
  return items.empty() ? Outcome::kDone : speak_items(items, spoken, rate, new_sentence);
}

Outcome SentenceRoad::speak_pieces(const SourcedText &spoken, float rate, bool new_sentence) {
  std::vector<Utterance> utterances;
  {
    RECORD_USER_SCOPE("korva::frontend");
    for (std::vector<int32_t> &ids :
         fitting_ids(front_end_, spoken.text, static_cast<size_t>(kMaxTokens))) {
      utterances.emplace_back();
      utterances.back().ids = std::move(ids);
    }
  }
  return speak_utterances(utterances, spoken, rate, new_sentence);
}

Outcome SentenceRoad::speak_items(const std::vector<PhonemeItem> &items, const SourcedText &spoken,
                                  float rate, bool new_sentence) {
  return speak_utterances(utterances_of(items), spoken, rate, new_sentence);
}

Outcome SentenceRoad::speak_nothing(size_t base) {
  // Nothing to say is said as the korva front-end has always said an empty text.
  if (voice_.korva_front_end) return speak_items({}, verbatim("", base), 1.0f, true);
  record_error("No symbol of the text is in the voice's table");
  return Outcome::kFailed;
}

Outcome SentenceRoad::speak_utterances(const std::vector<Utterance> &utterances,
                                       const SourcedText &spoken, float rate, bool new_sentence) {
  Request request = request_;
  request.length_scale /= rate;
  bool first = true;
  for (const Utterance &utterance : utterances) {
    const bool pause = spoken_any_ && first && new_sentence && !paused_;
    if (pause && !silence(clock_.voice_samples_of(request_.sentence_silence)))
      return Outcome::kStopped;
    first = false;
    spoken_any_ = true;
    paused_ = false;
    TimingSink timed(sink_, utterance, spoken, {request_.on_timing, request_.timing_user}, clock_);
    const Outcome outcome = synthesize_ids(model_, voice_, utterance.ids, request, timed);
    if (outcome != Outcome::kDone) return outcome;
  }
  return Outcome::kDone;
}

bool SentenceRoad::silence(int64_t samples) {
  if (samples <= 0) return true;
  const std::vector<float> zeros(static_cast<size_t>(std::min(samples, kSilenceChunk)), 0.0f);
  sink_.begin(samples);
  for (int64_t left = samples; left > 0; left -= kSilenceChunk) {
    const int64_t n = std::min(left, kSilenceChunk);
    clock_.advance(n);
    if (!sink_.write(zeros.data(), n)) return false;
  }
  return true;
}
