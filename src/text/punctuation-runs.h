#pragma once
// A text cut where punctuation marks stand, as the public VITS pipeline cuts
// it before phonemes: each run of the marks ; : , . ! ? ¡ ¿ — … " « » “ ”,
// with the white space around it, is kept as written, and each piece between
// two runs is read on its own.

#include <string_view>
#include <vector>

#include "text/sentences.h"

struct TextPiece {
  TextSpan span;
  bool marks = false;  // a run of marks, or words
};

// The pieces of `text` in order; together they cover it.
std::vector<TextPiece> punctuation_runs(std::string_view text);
