#pragma once
// English (en-US) names of numbers: cardinals, ordinals, years, decades and
// digit strings, all lower case with hyphenated tens ("twenty-six").

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The value of a run of ASCII digits, or nothing when it is empty, holds
// another byte, or does not fit in 64 bits.
std::optional<uint64_t> parse_digits(std::string_view digits);

// "one thousand two hundred thirty-four"; any 64-bit value.
std::string cardinal_words(uint64_t n);

// "twenty-second".
std::string ordinal_words(uint64_t n);

// How a year is said: "nineteen ninety-nine", "nineteen oh five",
// "nineteen hundred", "two thousand five", "twenty twenty-six".
std::string year_words(uint64_t year);

// The plural of a number's name, for decades: "nineties", "nineteen hundreds".
std::string plural_number_words(std::string words);

// Each digit by its name: "five five five"; other bytes are skipped.
std::string digit_words(std::string_view digits);

// A run of digits as said in running text: a cardinal, or digit by digit when
// it has a leading zero or is too long to be a quantity.
std::string digit_run_words(std::string_view digits);
