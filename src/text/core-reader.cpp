#include "text/core-reader.h"

#include <cstring>

#include "text/ascii.h"
#include "text/dates.h"
#include "text/initialisms.h"
#include "text/money.h"
#include "text/number-forms.h"
#include "text/symbols.h"
#include "text/telephone.h"
#include "text/times.h"
#include "text/web-address.h"

namespace {

// Letters with the apostrophes and hyphens inside a word ("don't", "well-known").
size_t word_length(std::string_view s) {
  size_t n = 0;
  while (n < s.size() && (is_letter(s[n]) || ((s[n] == '\'' || s[n] == '-') && n > 0 &&
                                              n + 1 < s.size() && is_letter(s[n + 1])))) {
    ++n;
  }
  return n;
}

// Whether a number (or an amount) starts `s`; a sign only when `signed_ok`.
bool starts_number(std::string_view s, bool signed_ok) {
  size_t i = signed_ok && !s.empty() && (s[0] == '-' || s[0] == '+') ? 1 : 0;
  i += currency_symbol_length(s.substr(i));
  if (i < s.size() && is_digit(s[i])) return true;
  if (i + 1 < s.size() && s[i] == '.' && is_digit(s[i + 1])) return true;
  return i + 2 < s.size() && s[i] == '\'' && is_digit(s[i + 1]) && is_digit(s[i + 2]);
}

// The number-like piece at the start of `s`, by the first reader that knows it.
size_t read_numeric(std::string_view s, bool signed_ok, Spoken &out) {
  if (const size_t n = read_fraction(s, out)) return n;
  if (const size_t n = read_numeric_date(s, out)) return n;
  if (const size_t n = read_clock(s, out)) return n;
  if (const size_t n = read_digit_groups(s, out)) return n;
  if (const size_t n = read_money(s, signed_ok, out)) return n;
  return read_number(s, signed_ok, out);
}

enum class Piece { kNone, kNumber, kWord, kOther };

class CoreReader {
 public:
  explicit CoreReader(Spoken &out) : out_(out) {}

  // Reads the piece at `at`; returns the bytes it took (at least 1).
  size_t read(std::string_view core, size_t at) {
    const std::string_view s = core.substr(at);
    const bool signed_ok = last_ != Piece::kNumber && last_ != Piece::kWord;
    if (starts_number(s, signed_ok)) {
      if (const size_t n = read_numeric(s, signed_ok, out_)) return took(Piece::kNumber, n);
    }
    if (is_letter(s[0])) {
      if (const size_t n = read_dotted(s, out_)) return took(Piece::kWord, n);
      if (const size_t n = read_ampersand_initialism(s, out_)) return took(Piece::kWord, n);
      const size_t n = word_length(s);
      read_word(s.substr(0, n), out_);
      return took(Piece::kWord, n);
    }
    // "10^3", "2^-8": a power.
    if (s[0] == '^' && last_ == Piece::kNumber && s.size() > 1 &&
        starts_number(s.substr(1), true)) {
      out_.add("to the power of");
      return took(Piece::kOther, 1);
    }
    // "3:45-4:15", "pages 5-10" across pieces: a range.
    if (s[0] == '-' && last_ == Piece::kNumber && s.size() > 1 && is_digit(s[1])) {
      out_.add("to");
      return took(Piece::kOther, 1);
    }
    if (std::strchr(".,;:!?", s[0])) {
      out_.mark(s[0]);
      return took(Piece::kOther, 1);
    }
    if (std::strchr("-'\"()[]{}*_|\\^`", s[0])) return took(Piece::kOther, 1);
    return took(Piece::kOther, read_symbol(s, out_));
  }

 private:
  size_t took(Piece piece, size_t n) {
    last_ = piece;
    return n;
  }

  Spoken &out_;
  Piece last_ = Piece::kNone;
};

}  // namespace

void read_core(std::string_view core, Spoken &out) {
  if (core.empty() || read_web_address(core, out)) return;
  CoreReader reader(out);
  for (size_t i = 0; i < core.size();) i += reader.read(core, i);
}
