#include "text/word-marks.h"

#include <cstring>

namespace {

// Symbols that are read ($ % & # @ ...) are no marks.
bool is_ascii_mark(char c) { return c && std::strchr("!\"(),.:;?[]{}`", c) != nullptr; }

}  // namespace

size_t mark_at(std::string_view text, size_t i) {
  if (i >= text.size()) return 0;
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  if (is_ascii_mark(text[i])) return 1;
  if (i + 1 < text.size() && byte(i) == 0xC2 &&
      (byte(i + 1) == 0xAB || byte(i + 1) == 0xBB || byte(i + 1) == 0xA1 || byte(i + 1) == 0xBF))
    return 2;
  if (i + 2 < text.size() && byte(i) == 0xE2 && byte(i + 1) == 0x80) return 3;
  return 0;
}

size_t mark_before(std::string_view text, size_t end) {
  for (size_t n = 1; n <= 3 && n <= end; ++n)
    if (mark_at(text.substr(0, end), end - n) == n) return n;
  return 0;
}

TextSpan word_core(std::string_view text, TextSpan word) {
  size_t first = word.offset, last = word.end();
  const std::string_view inside = text.substr(0, last);
  while (first < last && mark_at(inside, first) > 0) first += mark_at(inside, first);
  while (last > first && mark_before(text, last) > 0) last -= mark_before(text, last);
  return first < last ? TextSpan{first, last - first} : word;
}
