#include "text/dates.h"

#include <optional>
#include <string>

#include "text/ascii.h"
#include "text/number-words.h"

namespace {

constexpr const char *kMonths[] = {"January", "February", "March",     "April",
                                   "May",     "June",     "July",      "August",
                                   "September", "October", "November", "December"};

struct MonthAbbreviation {
  std::string_view written;
  unsigned month;
};

// "May" needs none; "Sept" is as common as "Sep".
constexpr MonthAbbreviation kMonthAbbreviations[] = {
    {"Jan", 1}, {"Feb", 2},  {"Mar", 3},   {"Apr", 4},  {"Jun", 6},  {"Jul", 7},
    {"Aug", 8}, {"Sep", 9}, {"Sept", 9}, {"Oct", 10}, {"Nov", 11}, {"Dec", 12}};

struct WeekdayAbbreviation {
  std::string_view written;
  const char *name;
};

constexpr WeekdayAbbreviation kWeekdayAbbreviations[] = {
    {"Mon", "Monday"},   {"Tue", "Tuesday"},   {"Tues", "Tuesday"},   {"Wed", "Wednesday"},
    {"Thu", "Thursday"}, {"Thur", "Thursday"}, {"Thurs", "Thursday"}, {"Fri", "Friday"},
    {"Sat", "Saturday"}, {"Sun", "Sunday"}};

std::string year_of(std::string_view digits) {
  const uint64_t value = *parse_digits(digits);
  // Two-digit years: this century up to 49, the last one from 50.
  if (digits.size() == 2) return year_words(value < 50 ? 2000 + value : 1900 + value);
  return year_words(value);
}

// Month, day and year said: "December ninth, twenty twenty-six".
void say_date(unsigned month, unsigned day, std::string_view year, Spoken &out) {
  out.add(kMonths[month - 1]);
  if (day) out.add(ordinal_words(day));
  if (year.empty()) return;
  if (day) out.mark(',');
  out.add(year_of(year));
}

bool valid(unsigned month, unsigned day) { return month >= 1 && month <= 12 && day >= 1 && day <= 31; }

// Up to three digit groups split by one separator: their texts and the length.
struct Groups {
  std::string_view part[3];
  int count = 0;
  char separator = 0;
  size_t length = 0;
};

Groups split_groups(std::string_view s) {
  Groups g;
  size_t i = 0;
  while (g.count < 3) {
    const size_t digits = count_digits(s.substr(i));
    if (digits == 0) break;
    g.part[g.count++] = s.substr(i, digits);
    i += digits;
    g.length = i;
    if (i + 1 >= s.size() || !is_digit(s[i + 1])) break;
    if (g.separator ? s[i] != g.separator : (s[i] != '/' && s[i] != '-' && s[i] != '.')) break;
    g.separator = s[i];
    ++i;
  }
  return g;
}

unsigned number(std::string_view digits) { return static_cast<unsigned>(*parse_digits(digits)); }

const char *weekday_of(std::string_view word) {
  for (const WeekdayAbbreviation &w : kWeekdayAbbreviations) {
    if (w.written == word) return w.name;
  }
  return nullptr;
}

// The month named by `word` (capitalised, in full or abbreviated), 0 if none.
unsigned month_of(std::string_view word, bool *abbreviated) {
  *abbreviated = false;
  for (unsigned m = 0; m < 12; ++m) {
    if (word == kMonths[m]) return m + 1;
  }
  *abbreviated = true;
  for (const MonthAbbreviation &a : kMonthAbbreviations) {
    if (word == a.written) return a.month;
  }
  return 0;
}

// A day of the month, with or without its ordinal suffix: 0 when `core` is not one.
unsigned day_of(std::string_view core) {
  const size_t digits = count_digits(core);
  if (digits == 0 || digits > 2) return 0;
  const std::string_view suffix = core.substr(digits);
  if (!suffix.empty() && !(suffix.size() == 2 && (equals_folded(suffix, "st") ||
                                                  equals_folded(suffix, "nd") ||
                                                  equals_folded(suffix, "rd") ||
                                                  equals_folded(suffix, "th")))) {
    return 0;
  }
  const unsigned day = number(core.substr(0, digits));
  return day >= 1 && day <= 31 ? day : 0;
}

bool is_year_core(std::string_view core) { return core.size() == 4 && count_digits(core) == 4; }

}  // namespace

size_t read_numeric_date(std::string_view s, Spoken &out) {
  const Groups g = split_groups(s);
  if (g.count < 2 || (g.length < s.size() && is_letter(s[g.length]))) return 0;
  if (g.count == 3 && g.part[0].size() == 4 && g.separator != '.' && g.part[1].size() <= 2 &&
      g.part[2].size() <= 2 && valid(number(g.part[1]), number(g.part[2]))) {
    say_date(number(g.part[1]), number(g.part[2]), g.part[0], out);
    return g.length;
  }
  if (g.part[0].size() > 2 || g.part[1].size() > 2) return 0;
  unsigned month = number(g.part[0]);
  unsigned day = number(g.part[1]);
  // The continent's order: day first, always with points and when the first part cannot be a month.
  if (g.separator == '.' || (month > 12 && day <= 12)) std::swap(month, day);
  if (!valid(month, day)) return 0;
  if (g.count == 3) {
    if (g.part[2].size() != 2 && g.part[2].size() != 4) return 0;
    say_date(month, day, g.part[2], out);
    return g.length;
  }
  // "12/25" only: "5-10" is a range, "3.5" a decimal and "24/7" no date.
  if (g.separator != '/' || month != number(g.part[0])) return 0;
  say_date(month, day, {}, out);
  return g.length;
}

Taken read_named_date(const Cursor &cursor, Spoken &out) {
  const Chunk &chunk = cursor.chunk();
  if (chunk.core.empty() || !(is_upper(chunk.core[0]) || is_digit(chunk.core[0]))) return {};
  const bool has_period = !chunk.trail.empty() && chunk.trail[0] == '.';
  bool abbreviated = false;
  if (const unsigned month = month_of(chunk.core, &abbreviated)) {
    // "Dec. 9", "December 9th, 2026", "December 2026".
    const bool joined = open_ended(chunk) || (abbreviated && chunk.trail == ".");
    const Chunk *next = cursor.peek(1);
    if (joined && next) {
      if (const unsigned day = day_of(next->core)) {
        const Chunk *after = cursor.peek(2);
        const bool with_year = (next->trail.empty() || next->trail == ",") && after &&
                               is_year_core(after->core) && !after->new_paragraph;
        say_date(month, day, with_year ? after->core : std::string_view(), out);
        return {with_year ? 3u : 2u, false};
      }
      if (is_year_core(next->core)) {
        say_date(month, 0, next->core, out);
        return {2, false};
      }
    }
    if (!abbreviated || !has_period) return {};
    out.add(kMonths[month - 1]);
    return took_period(cursor, 1, out);
  }
  if (const unsigned day = day_of(chunk.core)) {
    // "9 December 2026", "9th of December".
    const Chunk *next = cursor.peek(1);
    size_t at = 1;
    if (next && next->core == "of" && open_ended(*next)) next = cursor.peek(++at);
    if (!open_ended(chunk) || !next || !month_of(next->core, &abbreviated)) return {};
    const unsigned month = month_of(next->core, &abbreviated);
    const Chunk *after = cursor.peek(static_cast<long>(at) + 1);
    const bool with_year = (next->trail.empty() || next->trail == "," ||
                            (abbreviated && next->trail == ".")) &&
                           after && is_year_core(after->core);
    const Chunk *previous = cursor.peek(-1);
    if (!previous || !equals_folded(previous->core, "the")) out.add("the");
    out.add(ordinal_words(day));
    out.add("of");
    out.add(kMonths[month - 1]);
    if (with_year) {
      out.mark(',');
      out.add(year_of(after->core));
      return {at + 2, false};
    }
    if (abbreviated && !next->trail.empty() && next->trail[0] == '.') return took_period(cursor, at + 1, out);
    return {at + 1, false};
  }
  if (has_period && starts_upper(chunk)) {
    const char *weekday = weekday_of(chunk.core);
    if (!weekday) return {};
    out.add(weekday);
    return took_period(cursor, 1, out);
  }
  return {};
}
