#include "text/number-words.h"

namespace {

constexpr const char *kOnes[] = {"zero",    "one",     "two",       "three",    "four",
                                 "five",    "six",     "seven",     "eight",    "nine",
                                 "ten",     "eleven",  "twelve",    "thirteen", "fourteen",
                                 "fifteen", "sixteen", "seventeen", "eighteen", "nineteen"};
constexpr const char *kTens[] = {"",      "",      "twenty",  "thirty", "forty",
                                 "fifty", "sixty", "seventy", "eighty", "ninety"};
constexpr const char *kScales[] = {"",         "thousand",    "million",    "billion",
                                   "trillion", "quadrillion", "quintillion"};

// Plain digit runs longer than this are identifiers (accounts, serial numbers),
// not quantities: a quantity this large is written with separators.
constexpr size_t kLongestQuantity = 9;

void append(std::string &out, const char *word) {
  if (!out.empty()) out += ' ';
  out += word;
}

// 0 < n < 1000.
void append_hundreds(std::string &out, unsigned n) {
  if (n >= 100) {
    append(out, kOnes[n / 100]);
    append(out, "hundred");
    n %= 100;
  }
  if (n == 0) return;
  if (n < 20) {
    append(out, kOnes[n]);
    return;
  }
  append(out, kTens[n / 10]);
  if (n % 10) {
    out += '-';
    out += kOnes[n % 10];
  }
}

void append_cardinal(std::string &out, uint64_t n, int scale) {
  if (n >= 1000) append_cardinal(out, n / 1000, scale + 1);
  const unsigned group = static_cast<unsigned>(n % 1000);
  if (group == 0) return;
  append_hundreds(out, group);
  if (scale > 0) append(out, kScales[scale]);
}

// Two digits as the second half of a year: "oh five", "ninety-nine".
std::string year_half(unsigned n) {
  return n < 10 ? std::string("oh ") + kOnes[n] : cardinal_words(n);
}

}  // namespace

std::optional<uint64_t> parse_digits(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  uint64_t n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    const unsigned d = static_cast<unsigned>(c - '0');
    if (n > (UINT64_MAX - d) / 10) return std::nullopt;
    n = n * 10 + d;
  }
  return n;
}

std::string cardinal_words(uint64_t n) {
  if (n == 0) return kOnes[0];
  std::string out;
  append_cardinal(out, n, 0);
  return out;
}

std::string ordinal_words(uint64_t n) {
  std::string words = cardinal_words(n);
  const size_t start = words.find_last_of(" -") + 1;  // npos + 1 == 0
  const std::string_view last(words.data() + start, words.size() - start);
  static constexpr std::pair<std::string_view, const char *> kIrregular[] = {
      {"one", "first"}, {"two", "second"},  {"three", "third"},  {"five", "fifth"},
      {"eight", "eighth"}, {"nine", "ninth"}, {"twelve", "twelfth"}};
  for (const auto &[cardinal, ordinal] : kIrregular) {
    if (last == cardinal) return words.replace(start, std::string::npos, ordinal);
  }
  if (words.back() == 'y') return words.replace(words.size() - 1, 1, "ieth");
  return words + "th";
}

std::string year_words(uint64_t year) {
  if (year < 1000 || year > 9999 || (year >= 2000 && year < 2010) || year % 1000 == 0) {
    return cardinal_words(year);
  }
  const unsigned high = static_cast<unsigned>(year / 100);
  const unsigned low = static_cast<unsigned>(year % 100);
  return cardinal_words(high) + ' ' + (low == 0 ? "hundred" : year_half(low));
}

std::string plural_number_words(std::string words) {
  if (!words.empty() && words.back() == 'y') return words.replace(words.size() - 1, 1, "ies");
  if (words.size() >= 3 && words.compare(words.size() - 3, 3, "six") == 0) return words + "es";
  return words + 's';
}

std::string digit_words(std::string_view digits) {
  std::string out;
  for (char c : digits) {
    if (c >= '0' && c <= '9') append(out, kOnes[c - '0']);
  }
  return out;
}

std::string digit_run_words(std::string_view digits) {
  const auto value = parse_digits(digits);
  if (!value || digits.size() > kLongestQuantity || (digits.size() > 1 && digits[0] == '0')) {
    return digit_words(digits);
  }
  return cardinal_words(*value);
}
