#include "text/times.h"

#include <optional>

#include "text/ascii.h"
#include "text/number-words.h"

namespace {

struct Clock {
  unsigned hour = 0;
  unsigned minute = 0;
  std::optional<unsigned> second;
  bool has_minutes = false;
  size_t length = 0;
};

// Two digits after a colon, below 60.
std::optional<unsigned> sixtieth(std::string_view s) {
  if (s.size() < 3 || s[0] != ':' || count_digits(s.substr(1)) != 2) return std::nullopt;
  const unsigned n = static_cast<unsigned>((s[1] - '0') * 10 + (s[2] - '0'));
  return n < 60 ? std::optional<unsigned>(n) : std::nullopt;
}

// "H", "H:MM" or "H:MM:SS" at the start of `s`, hour at most 24.
std::optional<Clock> parse_clock(std::string_view s) {
  const size_t digits = count_digits(s);
  if (digits == 0 || digits > 2) return std::nullopt;
  Clock c;
  c.hour = static_cast<unsigned>(*parse_digits(s.substr(0, digits)));
  if (c.hour > 24) return std::nullopt;
  c.length = digits;
  if (const auto minute = sixtieth(s.substr(c.length))) {
    c.minute = *minute;
    c.has_minutes = true;
    c.length += 3;
    if ((c.second = sixtieth(s.substr(c.length)))) c.length += 3;
  }
  return c;
}

// "am", "PM", "a.m", "p.m" up to the end of `s` or a non-letter: its length and
// its letter ('a' or 'p'), or 0. A dotted form's final period stays in the trail.
size_t meridiem(std::string_view s, char *which) {
  if (s.size() < 2) return 0;
  const char first = to_lower(s[0]);
  if (first != 'a' && first != 'p') return 0;
  size_t n = 0;
  if (to_lower(s[1]) == 'm') {
    n = 2;
  } else if (s.size() >= 3 && s[1] == '.' && to_lower(s[2]) == 'm') {
    n = s.size() >= 4 && s[3] == '.' ? 4 : 3;
  }
  if (n == 0 || (n < s.size() && is_letter(s[n]))) return 0;
  *which = first;
  return n;
}

void say_clock(const Clock &c, char which, Spoken &out) {
  out.add(cardinal_words(c.hour));
  if (c.minute > 0) {
    out.add(c.minute < 10 ? "oh" : "");
    out.add(cardinal_words(c.minute));
  } else if (c.has_minutes && !which) {
    out.add(c.hour > 12 || c.hour == 0 ? "hundred" : "o'clock");
  }
  if (c.second) {
    out.add("and");
    out.add(cardinal_words(*c.second));
    out.add(*c.second == 1 ? "second" : "seconds");
  }
  if (which) out.add(which == 'a' ? "a m" : "p m");
}

}  // namespace

size_t read_clock(std::string_view s, Spoken &out) {
  const auto clock = parse_clock(s);
  if (!clock) return 0;
  char which = 0;
  const size_t suffix = meridiem(s.substr(clock->length), &which);
  if (!clock->has_minutes && !suffix) return 0;
  if (suffix && (clock->hour > 12 || clock->hour == 0)) return 0;
  say_clock(*clock, which, out);
  return clock->length + suffix;
}

Taken read_time_phrase(const Cursor &cursor, Spoken &out) {
  const std::string_view core = cursor.chunk().core;
  const auto clock = parse_clock(core);
  if (!clock) return {};
  char which = 0;
  const std::string_view rest = core.substr(clock->length);
  const Chunk *next = cursor.peek(1);
  size_t chunks = 1;
  std::string_view said;
  if (!rest.empty()) {
    said = rest;
  } else if (next && open_ended(cursor.chunk()) && (clock->hour <= 12 && clock->hour > 0)) {
    said = next->core;
    chunks = 2;
  }
  if (said.empty() || meridiem(said, &which) != said.size()) return {};
  if (clock->hour > 12 || clock->hour == 0) return {};
  say_clock(*clock, which, out);
  const Chunk &last = *cursor.peek(static_cast<long>(chunks) - 1);
  // "p.m." keeps its last period in the trail: an abbreviation's.
  if (said.size() == 3 && !last.trail.empty() && last.trail[0] == '.') {
    return took_period(cursor, chunks, out);
  }
  return {chunks, false};
}
