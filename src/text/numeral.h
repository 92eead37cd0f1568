#pragma once
// A number as written at the start of a text ("-1,234.5", ".75", "007") and
// how it is said.

#include <optional>
#include <string>
#include <string_view>

struct Numeral {
  char sign = 0;              // '-', '+' or 0
  std::string integer;        // digits without separators; empty for ".5"
  std::string_view fraction;  // digits after the point; empty when none
  bool grouped = false;       // written with thousands separators
  size_t length = 0;          // bytes it takes in the text

  bool whole() const { return fraction.empty() && !integer.empty(); }
  // Exactly one, so that what follows it is singular.
  bool is_one() const { return integer == "1" && fraction.empty(); }
};

// The number at the start of `text`, or nothing when it does not start with
// one. A sign counts only right before a digit or point; a comma only between
// groups of three digits; a point only before a digit.
std::optional<Numeral> parse_numeral(std::string_view text);

// "minus one thousand two hundred thirty-four point five"; an ungrouped
// integer part with a leading zero or too many digits is said digit by digit.
std::string numeral_words(const Numeral &n);
