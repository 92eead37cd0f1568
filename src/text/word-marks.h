#pragma once
// The punctuation marks at the edges of a written word: quotes, brackets,
// dashes, stops and the like, but not the apostrophes and hyphens of words
// ("don't", "well-known") nor the symbols a reader says ("$5").

#include <cstddef>
#include <string_view>

#include "text/sentences.h"

// Bytes of the mark that starts at byte i of `text`, or 0: ! " ( ) , . : ; ?
// [ ] { } `, Latin-1's « » ¡ ¿ and the general punctuation block (curly
// quotes, dashes, the ellipsis). Symbols that are read ($ % & ...) are none.
size_t mark_at(std::string_view text, size_t i);

// Bytes of the mark that ends just before byte `end` of `text`, or 0.
size_t mark_before(std::string_view text, size_t end);

// The word `word` of `text` without the marks at its ends; the word itself
// when it is marks alone.
TextSpan word_core(std::string_view text, TextSpan word);
