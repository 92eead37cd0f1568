#pragma once
// Written English -> the words a reader says aloud (en-US readings): numbers,
// money, dates, times, units, abbreviations, initialisms, symbols, web
// addresses and non-ASCII letters become plain words.

#include <string>
#include <string_view>

// The spoken form of `utf8`: words separated by single spaces, with the clause
// punctuation . , ; : ! ? kept after the word it follows (an abbreviation's
// period only where it ends a sentence). Any bytes are accepted: invalid UTF-8,
// control characters, emoji and other symbols are dropped quietly. Never throws
// except std::bad_alloc.
std::string normalise_text(std::string_view utf8);
