#pragma once
// Phonemes as a front-end writes them, each piece knowing which word of the
// front-end's text it says, on their way to an utterance: each code point
// one symbol of the voice's table, framed as the table frames, the words
// pointing at their symbols.

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "text/sentences.h"
#include "text/utterances.h"
#include "voice/voice-description.h"

// Symbols a request's text gives that the voice's table lacks: dropped, each
// reported once per request rather than at every occurrence.
class DroppedSymbols {
 public:
  void drop(const std::string &symbol);

 private:
  std::set<std::string> reported_;
};

class PhonemeText {
 public:
  // Appends `phonemes` said for the bytes `word` of the front-end's text, or
  // (no word) marks and spaces. A piece for the same word as the one before
  // joins that word.
  void append(std::string_view phonemes, std::optional<TextSpan> word = std::nullopt);
  const std::string &text() const { return text_; }
  // Runs of white space as one space, as the text had them otherwise.
  PhonemeText whitespace_collapsed() const;
  // The utterance of these phonemes: each code point through `table`, the
  // ones it lacks dropped; framed as `table` frames.
  Utterance utterance(const FrontEndTable &table, DroppedSymbols &dropped) const;

 private:
  std::string text_;
  std::vector<int> word_of_;  // per byte: index into words_, -1 for none
  std::vector<TextSpan> words_;
};
