#pragma once
// Words said letter by letter: "FBI" -> "f b i", "U.S." -> "u s", "CDs" ->
// "c d's", while capitalised words of the lexicon stay words ("NASA").

#include <string>
#include <string_view>

#include "text/reader.h"

// The lexicon's pronunciation of `word` in any case of its letters, or null.
const char *lexicon_lookup_any_case(std::string_view word);

bool has_vowel(std::string_view word);

// Letters said one by one, lower case, the letter A as "eigh": "a" is the article,
// and espeak-ng reads "ay" as "aye", as the lexicon does "ay's".
std::string spelled(std::string_view letters);

// A word as it is said: spelled out when it is an initialism, else as written.
void read_word(std::string_view word, Spoken &out);

// Single letters joined by points at the start of `s` ("U.S", "Ph.D" counts its
// pairs too): the bytes read, or 0. A final period is left to the caller.
size_t read_dotted(std::string_view s, Spoken &out);

// Capital letters joined by ampersands at the start of `s` ("AT&T", "Q&A",
// "R&D"), spelled with "and" between: the bytes read, or 0.
size_t read_ampersand_initialism(std::string_view s, Spoken &out);

// A chunk that is a dotted initialism with its final period ("U.S.", "a.m.").
Taken read_dotted_phrase(const Cursor &cursor, Spoken &out);
