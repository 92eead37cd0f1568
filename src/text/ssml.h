#pragma once
// The SSML subset korva reads, parsed by expat into parts to speak in order:
// <speak>, <p>, <s>, <break time strength>, <say-as interpret-as>, <sub alias>,
// <phoneme alphabet="ipa" ph>, <prosody rate>. The text of any other element
// is spoken, with a warning. Markup is never spoken.
//
// What a short document may ask for is bounded: entity declarations are
// refused (so the text read is at most twice the document's bytes), one break
// is at most a minute and all of them together ten, and nested <prosody>
// rates multiply to a rate from 0.2 to 5.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/sourced-text.h"

struct SsmlPart {
  enum class Kind { kText, kBreak, kPhonemes };
  Kind kind = Kind::kText;
  SourcedText text;           // kText: what to say; kPhonemes: the words the phonemes replace
  std::string phonemes;       // kPhonemes: IPA, as the korva front-end writes it
  float rate = 1.0f;          // speaking rate relative to the request's (prosody)
  int break_ms = 0;           // kBreak: milliseconds of silence
  bool new_sentence = false;  // starts a sentence (<s>, <p>, or after one)
};

// The parts of `document`, or nullopt with the reason in *error (malformed
// XML, or a value korva cannot read). Warnings (unknown elements) go to
// *warnings. Text offsets point into `document`.
std::optional<std::vector<SsmlPart>> parse_ssml(std::string_view document, std::string *error,
                                                std::vector<std::string> *warnings);
