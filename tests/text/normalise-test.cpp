// The normaliser: the case file of written text and its spoken form, what any
// output looks like, arbitrary bytes, and threads.

#include "text/normalise.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Case {
  int line;
  std::string written;
  std::string spoken;
};

// "\n" in the written column stands for a line break.
std::string unescape(const std::string &s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == 'n') {
      out += '\n';
      ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<Case> load_cases() {
  std::ifstream in(KORVA_SOURCE_DIR "/tests/text/normalise-cases.tsv");
  std::vector<Case> cases;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    cases.push_back(
        {number, unescape(line.substr(0, tab)), tab == line.npos ? "" : line.substr(tab + 1)});
  }
  return cases;
}

// Words of letters, apostrophes and hyphens, single spaces, and clause marks
// right after a word: never a digit, a symbol or a mark first.
::testing::AssertionResult is_spoken_form(const std::string &s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool mark = c == '.' || c == ',' || c == ';' || c == ':' || c == '!' || c == '?';
    if (!letter && !mark && c != ' ' && c != '\'' && c != '-') {
      return ::testing::AssertionFailure() << "byte " << int(static_cast<unsigned char>(c))
                                           << " at " << i << " in \"" << s << "\"";
    }
    if ((c == ' ' && (i == 0 || i + 1 == s.size() || s[i - 1] == ' ')) ||
        (mark && (i == 0 || s[i - 1] == ' '))) {
      return ::testing::AssertionFailure() << "misplaced space or mark at " << i << " in \"" << s
                                           << "\"";
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(NormaliseText, CaseFile) {
  const std::vector<Case> cases = load_cases();
  ASSERT_GE(cases.size(), 200u) << "tests/text/normalise-cases.tsv is missing or short";
  for (const Case &c : cases) {
    EXPECT_EQ(normalise_text(c.written), c.spoken)
        << "normalise-cases.tsv:" << c.line << ": " << c.written;
    EXPECT_TRUE(is_spoken_form(c.spoken)) << "normalise-cases.tsv:" << c.line;
  }
}

TEST(NormaliseText, EmptyAndBlank) {
  EXPECT_EQ(normalise_text(""), "");
  EXPECT_EQ(normalise_text(" \t\n\r "), "");
  EXPECT_EQ(normalise_text("... -- !"), "");
  EXPECT_EQ(normalise_text(std::string("a\0b", 3)), "a b");
}

TEST(NormaliseText, InvalidUtf8IsDroppedBetweenWords) {
  EXPECT_EQ(normalise_text("caf\xC3"), "caf");                      // cut sequence
  EXPECT_EQ(normalise_text("one\xFFtwo"), "one two");               // never a lead byte
  EXPECT_EQ(normalise_text("one\xC0\xAFtwo"), "one two");           // overlong "/"
  EXPECT_EQ(normalise_text("one\xED\xA0\x80two"), "one two");       // a surrogate
  EXPECT_EQ(normalise_text("\x80\x80\x80"), "");                    // continuation bytes only
  EXPECT_EQ(normalise_text("5\xE2\x82" "0"), "five zero");          // a broken euro sign
}

// Arbitrary bytes, weighted towards what the readers look for, never crash or
// leave anything but the spoken form.
TEST(NormaliseText, ArbitraryBytes) {
  static const char kAlphabet[] = "0123456789$%:/.,-+'@#&()aApPmM sSkKtThHdD\xC2\xB0\xE2\x82\xAC\xC3\xA9\xF0\x9F\x98\x80\xFF\n";
  uint32_t state = 2026;
  auto next = [&state] { return (state = state * 1664525u + 1013904223u) >> 8; };
  for (int round = 0; round < 3000; ++round) {
    std::string text(next() % 40, '\0');
    for (char &c : text) {
      c = next() % 4 == 0 ? static_cast<char>(next() & 0xFF) : kAlphabet[next() % (sizeof kAlphabet - 1)];
    }
    const std::string spoken = normalise_text(text);
    ASSERT_TRUE(is_spoken_form(spoken)) << "from \"" << text << "\"";
  }
}

std::string nines(int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += i ? " nine" : "nine";
  return out;
}

TEST(NormaliseText, HugeNumbersAreSaidDigitByDigit) {
  EXPECT_EQ(normalise_text(std::string(500, '9')), nines(500));
  EXPECT_EQ(normalise_text("99,999,999,999,999,999,999"), nines(20));  // past 64 bits
}

// Each thread has its own transliterator; results do not depend on sharing.
TEST(NormaliseText, ThreadsGiveTheSameResult) {
  const std::string text = "Zoë paid €3.50 at the café on Dec. 9 — naïve Москва!";
  const std::string expected = normalise_text(text);
  std::vector<std::string> results(4);
  std::vector<std::thread> threads;
  for (std::string &result : results) {
    threads.emplace_back([&text, &result] {
      for (int i = 0; i < 50; ++i) result = normalise_text(text);
    });
  }
  for (std::thread &t : threads) t.join();
  for (const std::string &result : results) EXPECT_EQ(result, expected);
}

}  // namespace
