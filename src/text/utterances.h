#pragma once
// Phoneme items -> utterances the model accepts: framed ids of at most
// kMaxTokens each, and which ids belong to which word. An item list too long
// for one utterance is cut after its last clause mark that fits, or else
// between words; nothing is left out.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "text/phonemizer.h"

// A word of an utterance and the symbols it spans.
struct UtteranceWord {
  size_t offset = 0;  // of the word in the text its items came from, bytes
  size_t length = 0;
  size_t first_symbol = 0;  // symbol k is framed id 2 + 2k
  size_t n_symbols = 0;
};

struct Utterance {
  std::string phonemes;              // the items joined
  std::vector<int32_t> ids;          // framed, at most kMaxTokens
  std::vector<std::string> symbols;  // each symbol that has an id, in order
  std::vector<UtteranceWord> words;  // words with at least one symbol, in order
};

// Most symbols one utterance holds: two ids each, with the start and end framing.
size_t max_utterance_symbols();

// `items` as one utterance, or several where they do not fit in one. Writes
// the tokenizer's summary line once per utterance. An empty list gives one
// utterance of no symbols, as the korva front-end has always framed an empty text.
std::vector<Utterance> utterances_of(const std::vector<PhonemeItem> &items);
