#include "text/core-reader.h"

#include <cstring>

#include "text/numeral.h"

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Letters with the apostrophes and hyphens inside a word ("don't", "well-known").
size_t word_length(std::string_view s) {
  size_t n = 0;
  while (n < s.size() && (is_letter(s[n]) || ((s[n] == '\'' || s[n] == '-') && n > 0 &&
                                              n + 1 < s.size() && is_letter(s[n + 1])))) {
    ++n;
  }
  return n;
}

bool starts_number(std::string_view s, bool sign_allowed) {
  if (s.empty()) return false;
  if (is_digit(s[0])) return true;
  const size_t i = sign_allowed && (s[0] == '-' || s[0] == '+') ? 1 : 0;
  if (i < s.size() && is_digit(s[i])) return true;
  return i + 1 < s.size() && s[i] == '.' && is_digit(s[i + 1]);
}

// Bytes of the piece at the start of `s` that were read into `out`; at least 1.
size_t read_piece(std::string_view s, bool at_start, Spoken &out) {
  if (starts_number(s, at_start)) {
    const auto n = parse_numeral(s);
    out.add(numeral_words(*n));
    return n->length;
  }
  if (const size_t n = word_length(s)) {
    out.add(s.substr(0, n));
    return n;
  }
  if (std::strchr(".,;:!?", s[0])) out.mark(s[0]);
  return 1;
}

}  // namespace

void read_core(std::string_view core, Spoken &out) {
  for (size_t i = 0; i < core.size();) i += read_piece(core.substr(i), i == 0, out);
}
