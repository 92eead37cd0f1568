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
  size_t first_symbol = 0;
  size_t n_symbols = 0;
};

struct Utterance {
  std::string phonemes;              // as the front-end wrote them
  std::vector<int32_t> ids;          // framed
  std::vector<std::string> symbols;  // each symbol that has an id, in order
  std::vector<UtteranceWord> words;  // words with at least one symbol, in order
  // Symbol k is framed id first_symbol_id + k * ids_per_symbol (the korva
  // framing: start, blank, then a blank after each symbol).
  size_t first_symbol_id = 2;
  size_t ids_per_symbol = 2;
  // A sentence of the voice's own pipeline starts here (the request's sentence
  // silence goes before it), and seconds of silence the voice wants after it.
  bool starts_sentence = false;
  float silence_after = 0.0f;

  // The framed id of symbol k.
  size_t id_of_symbol(size_t k) const { return first_symbol_id + k * ids_per_symbol; }
};

// Most symbols one utterance holds: two ids each, with the start and end framing.
size_t max_utterance_symbols();

// `items` as one utterance, or several where they do not fit in one. Writes
// the tokenizer's summary line once per utterance. An empty list gives one
// utterance of no symbols, as the korva front-end has always framed an empty text.
std::vector<Utterance> utterances_of(const std::vector<PhonemeItem> &items);
