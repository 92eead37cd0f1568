#include "text/money.h"

#include <optional>
#include <string>

#include "text/ascii.h"
#include "text/number-words.h"
#include "text/numeral.h"

namespace {

struct Currency {
  std::string_view symbol;
  std::string_view one, many;              // the main unit
  std::string_view minor_one, minor_many;  // a hundredth of it; empty when not counted
};

constexpr Currency kCurrencies[] = {
    {"$", "dollar", "dollars", "cent", "cents"},
    {"€", "euro", "euros", "cent", "cents"},
    {"£", "pound", "pounds", "penny", "pence"},
    {"¥", "yen", "yen", "", ""},
};

struct Scale {
  std::string_view written;
  std::string_view word;
};

constexpr Scale kScales[] = {
    {"k", "thousand"}, {"K", "thousand"}, {"m", "million"},  {"M", "million"},
    {"mn", "million"}, {"MM", "million"}, {"b", "billion"},  {"B", "billion"},
    {"bn", "billion"}, {"t", "trillion"}, {"T", "trillion"}, {"tn", "trillion"}};

constexpr std::string_view kScaleWords[] = {"thousand", "million", "billion", "trillion"};

const Currency *currency_at(std::string_view s, size_t *length) {
  for (const Currency &c : kCurrencies) {
    if (s.substr(0, c.symbol.size()) == c.symbol) {
      *length = c.symbol.size();
      return &c;
    }
  }
  return nullptr;
}

// A scale letter written onto the amount ("10k", "1.5M"), up to the end of the word.
std::string_view scale_at(std::string_view s, size_t *length) {
  const size_t letters = count_letters(s);
  for (const Scale &scale : kScales) {
    if (scale.written == s.substr(0, letters)) {
      *length = letters;
      return scale.word;
    }
  }
  return {};
}

struct Amount {
  Numeral value;
  std::optional<Numeral> upper;  // the end of a range
  const Currency *currency = nullptr;
  std::string_view scale;
  size_t length = 0;
};

std::optional<Amount> parse_amount(std::string_view s, bool signed_ok) {
  Amount a;
  size_t i = 0;
  char sign = 0;
  if (signed_ok && !s.empty() && (s[0] == '-' || s[0] == '+')) sign = s[i++];
  size_t symbol = 0;
  a.currency = currency_at(s.substr(i), &symbol);
  i += symbol;
  auto value = parse_numeral(s.substr(i));
  if (!value || (a.currency && value->sign) || (!a.currency && sign)) return std::nullopt;
  if (sign) value->sign = sign;
  a.value = std::move(*value);
  i += a.value.length;
  if (a.value.whole() && i + 1 < s.size() && s[i] == '-' && is_digit(s[i + 1])) {
    auto upper = parse_numeral(s.substr(i + 1));
    if (upper->whole()) {
      i += 1 + upper->length;
      a.upper = std::move(*upper);
    }
  }
  if (!a.currency) {
    // "5€": the symbol after the number.
    a.currency = currency_at(s.substr(i), &symbol);
    if (!a.currency) return std::nullopt;
    i += symbol;
  } else {
    size_t scale = 0;
    a.scale = scale_at(s.substr(i), &scale);
    i += scale;
  }
  if (i < s.size() && is_letter(s[i])) return std::nullopt;
  a.length = i;
  return a;
}

// "five dollars and fifty cents", "ninety-nine cents", "one point five million dollars".
void say_amount(const Amount &a, std::string_view scale, Spoken &out) {
  const Currency &c = *a.currency;
  const Numeral &v = a.value;
  const bool cents = scale.empty() && !a.upper && !c.minor_many.empty() &&
                     (v.fraction.size() == 1 || v.fraction.size() == 2);
  if (!cents) {
    out.add(numeral_words(v));
    if (a.upper) {
      out.add("to");
      out.add(numeral_words(*a.upper));
    }
    out.add(scale);
    out.add(scale.empty() && (a.upper ? *a.upper : v).is_one() ? c.one : c.many);
    return;
  }
  const uint64_t major = v.integer.empty() ? 0 : parse_digits(v.integer).value_or(0);
  const uint64_t minor = *parse_digits(v.fraction) * (v.fraction.size() == 1 ? 10 : 1);
  out.add(v.sign == '-' ? "minus" : v.sign == '+' ? "plus" : "");
  if (major > 0 || minor == 0) {
    Numeral whole = v;
    whole.sign = 0;
    whole.fraction = {};
    if (whole.integer.empty()) whole.integer = "0";
    out.add(numeral_words(whole));
    out.add(major == 1 ? c.one : c.many);
  }
  if (minor == 0) return;
  out.add(major > 0 ? "and" : "");
  out.add(cardinal_words(minor));
  out.add(minor == 1 ? c.minor_one : c.minor_many);
}

}  // namespace

size_t read_money(std::string_view s, bool signed_ok, Spoken &out) {
  const auto amount = parse_amount(s, signed_ok);
  if (!amount) return 0;
  say_amount(*amount, amount->scale, out);
  return amount->length;
}

Taken read_money_phrase(const Cursor &cursor, Spoken &out) {
  const Chunk *next = cursor.peek(1);
  const std::string_view core = cursor.chunk().core;
  if (!next || !open_ended(cursor.chunk()) || core.empty() || is_letter(core[0])) return {};
  const auto amount = parse_amount(core, true);
  if (!amount || amount->length != core.size() || !amount->scale.empty()) return {};
  for (std::string_view word : kScaleWords) {
    if (next->core == word) {
      say_amount(*amount, word, out);
      return {2, false};
    }
  }
  return {};
}
