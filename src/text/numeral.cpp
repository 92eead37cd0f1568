#include "text/numeral.h"

#include "text/ascii.h"
#include "text/number-words.h"

std::optional<Numeral> parse_numeral(std::string_view text) {
  Numeral n;
  size_t i = 0;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    n.sign = text[0];
    i = 1;
  }
  const size_t lead = count_digits(text.substr(i));
  const bool point_first = lead == 0 && i + 1 < text.size() && text[i] == '.' && is_digit(text[i + 1]);
  if (lead == 0 && !point_first) return std::nullopt;
  n.integer.assign(text.substr(i, lead));
  i += lead;
  // Thousands groups: "1,234,567", never "1,23" or "1234,567".
  while (lead <= 3 && i + 3 < text.size() && text[i] == ',' && count_digits(text.substr(i + 1)) == 3) {
    n.integer.append(text.substr(i + 1, 3));
    n.grouped = true;
    i += 4;
  }
  if (i + 1 < text.size() && text[i] == '.' && is_digit(text[i + 1])) {
    const size_t digits = count_digits(text.substr(i + 1));
    n.fraction = text.substr(i + 1, digits);
    i += 1 + digits;
  }
  n.length = i;
  return n;
}

std::string numeral_words(const Numeral &n) {
  std::string words;
  if (n.sign == '-') words = "minus ";
  if (n.sign == '+') words = "plus ";
  if (!n.integer.empty()) {
    const auto value = n.grouped ? parse_digits(n.integer) : std::nullopt;
    words += value ? cardinal_words(*value) : digit_run_words(n.integer);
  }
  if (!n.fraction.empty()) {
    if (!n.integer.empty()) words += ' ';
    words += "point ";
    words += digit_words(n.fraction);
  }
  return words;
}
