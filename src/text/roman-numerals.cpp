#include "text/roman-numerals.h"

#include <optional>
#include <string>
#include <string_view>

#include "text/number-words.h"

namespace {

// Words after which a numeral is a count, not a monarch's ordinal.
constexpr std::string_view kCountedAfter[] = {"War",   "Chapter", "Part", "Volume", "Act",
                                              "Phase", "Book",    "Type", "Class",  "Level",
                                              "Stage", "Grade",   "Bowl", "Article"};

int value_of(char c) { return c == 'I' ? 1 : c == 'V' ? 5 : c == 'X' ? 10 : 0; }

// The value of a well-formed numeral of I, V and X, or nothing.
std::optional<unsigned> parse_roman(std::string_view s) {
  if (s.empty() || s.size() > 6) return std::nullopt;
  int total = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const int v = value_of(s[i]);
    if (v == 0) return std::nullopt;
    const int next = i + 1 < s.size() ? value_of(s[i + 1]) : 0;
    total += next > v ? -v : v;  // "IV", "IX": a smaller letter before a larger one
  }
  // Well formed when writing the value back gives the same letters.
  static constexpr const char *kTens[] = {"", "X", "XX", "XXX"};
  static constexpr const char *kOnes[] = {"",  "I",  "II",  "III",  "IV",
                                          "V", "VI", "VII", "VIII", "IX"};
  if (total <= 0 || total >= 40) return std::nullopt;
  const std::string canonical = std::string(kTens[total / 10]) + kOnes[total % 10];
  if (canonical != s) return std::nullopt;
  return static_cast<unsigned>(total);
}

bool counted_after(std::string_view word) {
  for (std::string_view w : kCountedAfter) {
    if (word == w) return true;
  }
  return false;
}

}  // namespace

Taken read_roman_numeral(const Cursor &cursor, Spoken &out) {
  const Chunk &chunk = cursor.chunk();
  const Chunk *previous = cursor.peek(-1);
  if (chunk.core.size() < 2 || !previous || !starts_upper(*previous) || !previous->trail.empty()) {
    return {};
  }
  const auto value = parse_roman(chunk.core);
  if (!value) return {};
  if (counted_after(previous->core)) {
    out.add(cardinal_words(*value));
  } else {
    out.add("the");
    out.add(ordinal_words(*value));
  }
  return {1, false};
}
