#include "text/number-forms.h"

#include <string>

#include "text/ascii.h"
#include "text/number-words.h"
#include "text/units.h"

namespace {

// A bare number in this span is more often a year than a count.
constexpr uint64_t kFirstYear = 1100;
constexpr uint64_t kLastYear = 2099;

// Words after which a number of the eleventh century is a year: "born in 1066".
constexpr std::string_view kBeforeYears[] = {"in",     "since", "until", "till",  "by",
                                             "before", "after", "circa", "around", "year"};

bool is_year(const Numeral &n) {
  if (n.sign || n.grouped || !n.fraction.empty() || n.integer.size() != 4) return false;
  const uint64_t value = *parse_digits(n.integer);
  return value >= kFirstYear && value <= kLastYear;
}

bool word_ends(std::string_view s, size_t at) { return at >= s.size() || !is_letter(s[at]); }

bool has_ordinal_suffix(std::string_view rest) {
  if (rest.size() < 2 || !word_ends(rest, 2)) return false;
  const std::string_view suffix = rest.substr(0, 2);
  return equals_folded(suffix, "st") || equals_folded(suffix, "nd") ||
         equals_folded(suffix, "rd") || equals_folded(suffix, "th");
}

// "1990s", "80s", "1990's": the bytes of the suffix, or 0.
size_t decade_suffix(const Numeral &n, std::string_view rest) {
  if (n.sign || n.grouped || !n.whole() || n.integer.back() != '0') return 0;
  if (n.integer.size() != 2 && n.integer.size() != 4) return 0;
  if (!rest.empty() && rest[0] == 's' && word_ends(rest, 1)) return 1;
  if (rest.size() >= 2 && rest[0] == '\'' && rest[1] == 's' && word_ends(rest, 2)) return 2;
  return 0;
}

std::string decade_words(const Numeral &n) {
  const uint64_t value = *parse_digits(n.integer);
  return plural_number_words(n.integer.size() == 4 ? year_words(value) : cardinal_words(value));
}

// "5-10", "1990-1995": the second numeral, when `rest` holds a range's end.
std::optional<Numeral> range_end(const Numeral &first, std::string_view rest) {
  if (!first.whole() || rest.size() < 2 || rest[0] != '-' || !is_digit(rest[1]))
    return std::nullopt;
  auto second = parse_numeral(rest.substr(1));
  if (!second->whole()) return std::nullopt;
  second->length += 1;
  return second;
}

// The unit written at the start of `rest`, up to the end of the word.
const Unit *attached_unit(std::string_view rest, size_t *length) {
  size_t n = 0;
  while (n < rest.size() && (is_letter(rest[n]) || rest[n] == '/' || rest[n] == '\xC2' ||
                             rest[n] == '\xB0' || rest[n] == '\xB5')) {
    ++n;
  }
  const Unit *unit = find_unit(rest.substr(0, n));
  if (unit) *length = n;
  return unit;
}

// A proper fraction with a small denominator: "three quarters".
std::string fraction_words(uint64_t numerator, uint64_t denominator) {
  std::string name = denominator == 2   ? "half"
                     : denominator == 4 ? "quarter"
                                        : ordinal_words(denominator);
  if (numerator != 1) name = denominator == 2 ? "halves" : name + 's';
  return cardinal_words(numerator) + ' ' + name;
}

size_t read_fraction_after(const Numeral &n, std::string_view rest, Spoken &out) {
  constexpr uint64_t kLargestDenominator = 10;
  if (n.sign || !n.whole() || n.grouped || rest.size() < 2 || rest[0] != '/') return 0;
  const size_t digits = count_digits(rest.substr(1));
  const auto numerator = parse_digits(n.integer);
  const auto denominator = parse_digits(rest.substr(1, digits));
  if (!denominator || *denominator < 2 || *denominator > kLargestDenominator ||
      *numerator >= *denominator || (digits < rest.size() - 1 && rest[1 + digits] == '/')) {
    return 0;
  }
  out.add(fraction_words(*numerator, *denominator));
  return 1 + digits;
}

}  // namespace

size_t read_fraction(std::string_view s, Spoken &out) {
  const auto n = parse_numeral(s);
  if (!n) return 0;
  const size_t rest = read_fraction_after(*n, s.substr(n->length), out);
  return rest ? n->length + rest : 0;
}

std::string quantity_words(const Numeral &n) {
  return is_year(n) ? year_words(*parse_digits(n.integer)) : numeral_words(n);
}

size_t read_number(std::string_view s, bool signed_ok, Spoken &out) {
  if (s.size() >= 3 && s[0] == '\'' && count_digits(s.substr(1)) == 2) {
    // "'90s": the decade without its century.
    const auto n = parse_numeral(s.substr(1));
    const size_t suffix = decade_suffix(*n, s.substr(3));
    if (!suffix) return 0;
    out.add(plural_number_words(cardinal_words(*parse_digits(n->integer))));
    return 3 + suffix;
  }
  const auto n = parse_numeral(s);
  if (!n || (n->sign && !signed_ok)) return 0;
  const std::string_view rest = s.substr(n->length);
  if (n->whole() && has_ordinal_suffix(rest)) {
    const auto value = parse_digits(n->integer);
    out.add(n->sign == '-' ? "minus" : "");
    out.add(value ? ordinal_words(*value) : digit_words(n->integer));
    return n->length + 2;
  }
  if (const size_t suffix = decade_suffix(*n, rest)) {
    out.add(decade_words(*n));
    return n->length + suffix;
  }

  const auto second = range_end(*n, rest);
  const size_t length = n->length + (second ? second->length : 0);
  const std::string_view after = s.substr(length);
  std::string_view suffix;
  size_t suffix_length = 0;
  if (!after.empty() && after[0] == '%') {
    suffix = "percent";
    suffix_length = 1;
  } else if (const Unit *unit = attached_unit(after, &suffix_length)) {
    suffix = (second ? *second : *n).is_one() ? unit->one : unit->many;
  } else if (!after.empty() && after[0] == 'x' &&
             (after.size() == 1 || !(is_letter(after[1]) || is_digit(after[1])))) {
    suffix = "times";  // "10x faster"
    suffix_length = 1;
  }
  // "1990-95": a year and the end of one.
  const bool years = suffix_length == 0 && is_year(*n) &&
                     (!second || is_year(*second) || second->integer.size() == 2);
  const auto say = [years](const Numeral &x) {
    return years ? quantity_words(x) : numeral_words(x);
  };
  out.add(say(*n));
  if (second) {
    out.add("to");
    out.add(say(*second));
  }
  out.add(suffix);
  return length + suffix_length;
}

Taken read_mixed_fraction_phrase(const Cursor &cursor, Spoken &out) {
  const Chunk *next = cursor.peek(1);
  const std::string_view core = cursor.chunk().core;
  if (!next || !open_ended(cursor.chunk()) || core.empty() || !is_digit(core[0])) return {};
  const auto n = parse_numeral(core);
  if (!n->whole() || n->length != core.size()) return {};
  Spoken fraction;
  if (read_fraction(next->core, fraction) != next->core.size() || next->core.empty()) return {};
  out.add(numeral_words(*n));
  out.add("and");
  out.add(fraction.take());
  return {2, false};
}

Taken read_measure_phrase(const Cursor &cursor, Spoken &out) {
  const Chunk *next = cursor.peek(1);
  const std::string_view core = cursor.chunk().core;
  if (!next || !open_ended(cursor.chunk())) return {};
  const auto n = parse_numeral(core);
  const Unit *unit = n ? find_unit(next->core) : nullptr;
  if (!unit) return {};
  const auto second = range_end(*n, core.substr(n->length));
  if (n->length + (second ? second->length : 0) != core.size()) return {};
  out.add(numeral_words(*n));
  if (second) {
    out.add("to");
    out.add(numeral_words(*second));
  }
  out.add((second ? *second : *n).is_one() ? unit->one : unit->many);
  return {2, false};
}

Taken read_year_phrase(const Cursor &cursor, Spoken &out) {
  const Chunk &chunk = cursor.chunk();
  const Chunk *previous = cursor.peek(-1);
  if (chunk.core.size() != 4 || count_digits(chunk.core) != 4 || !chunk.lead.empty() || !previous ||
      !previous->trail.empty())
    return {};
  const uint64_t value = *parse_digits(chunk.core);
  if (value < 1000 || value >= kFirstYear) return {};
  for (const std::string_view word : kBeforeYears) {
    if (equals_folded(previous->core, word)) {
      out.add(year_words(value));
      return {1, false};
    }
  }
  return {};
}
