#pragma once
// Character classes of the folded (ASCII) text the normaliser's readers scan.

#include <cstddef>
#include <string_view>

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
inline bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
inline bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
inline bool is_letter(char c) { return is_upper(c) || is_lower(c); }
inline char to_lower(char c) { return is_upper(c) ? static_cast<char>(c + 32) : c; }

// Digits at the start of `s`.
inline size_t count_digits(std::string_view s) {
  size_t n = 0;
  while (n < s.size() && is_digit(s[n])) ++n;
  return n;
}

// Letters at the start of `s`.
inline size_t count_letters(std::string_view s) {
  size_t n = 0;
  while (n < s.size() && is_letter(s[n])) ++n;
  return n;
}

// Whether `s` equals `lower` ignoring the case of its letters.
inline bool equals_folded(std::string_view s, std::string_view lower) {
  if (s.size() != lower.size()) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    if (to_lower(s[i]) != lower[i]) return false;
  }
  return true;
}
