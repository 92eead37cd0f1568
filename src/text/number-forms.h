#pragma once
// A number with what is written onto it: ordinals ("22nd"), decades ("1990s",
// "'90s"), percentages, ranges ("5-10", "1990-1995"), attached units ("5km",
// "20°C"), "10x" as "ten times", and years for a bare four-digit number;
// fractions ("3/4").

#include <string_view>

#include "text/numeral.h"
#include "text/reader.h"

// Reads the number at the start of `s` (it starts with a digit, a point and a
// digit, an apostrophe and two digits, or - when `signed_ok` - a sign and one of
// those) with its suffix. Returns the bytes read; 0 when `s` holds no number.
size_t read_number(std::string_view s, bool signed_ok, Spoken &out);

// A proper fraction with a denominator up to ten at the start of `s` ("3/4"
// -> "three quarters"): the bytes read, or 0.
size_t read_fraction(std::string_view s, Spoken &out);

// How a numeral is said on its own: a year when it is one, else numeral_words.
std::string quantity_words(const Numeral &n);

// A whole number and a fraction in the next chunk: "1 1/2" -> "one and one half".
Taken read_mixed_fraction_phrase(const Cursor &cursor, Spoken &out);

// A number (or range) that takes a whole chunk, and a unit that takes the
// next ("5 km", "1.5 kg", "10-20 °C").
Taken read_measure_phrase(const Cursor &cursor, Spoken &out);

// A bare number from 1000 to 1099 after a word that dates ("in", "since",
// "by", ...): a year, "born in 1066" -> "ten sixty-six". (From 1100 on, a bare
// number is a year anyway.)
Taken read_year_phrase(const Cursor &cursor, Spoken &out);
