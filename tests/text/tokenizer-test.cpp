// IPA string -> framed token ids: table, aliases, ignored marks, warnings, cap, broken UTF-8.

#include "text/tokenizer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Tokens {
  std::vector<int32_t> ids;
  std::string log;
};

Tokens run(const std::string &phonemes, int capacity = kMaxTokens) {
  std::vector<int32_t> out(capacity > 0 ? capacity : 0);
  testing::internal::CaptureStderr();
  const int n = tokenize(phonemes.c_str(), out.data(), capacity);
  Tokens t{std::vector<int32_t>(out.begin(), out.begin() + n),
           testing::internal::GetCapturedStderr()};
  return t;
}

std::string warning(const std::string &c, const std::string &hex) {
  return "[tokenize] WARN: unknown char '" + c + "' (" + hex + ") \u2014 skipping\n";
}

TEST(Tokenizer, FramesEverySymbolWithBlanks) {
  EXPECT_EQ(run("").ids, (std::vector<int32_t>{2, 3, 1}));
  const Tokens hello = run("hɛlˈoʊ");
  EXPECT_EQ(hello.ids, (std::vector<int32_t>{2, 3, 9, 3, 31, 3, 13, 3, 16, 3, 36, 3, 1}));
  EXPECT_EQ(hello.log, "[tokenize] 13 tokens: 2 3 9 3 31 3 13 3 16 3 36 3 1\n");
}

TEST(Tokenizer, SymbolTableInIdOrder) {
  const Tokens t = run("abdefhijklmnopstuvwzæðŋɑɔəɚɛɡɪɹʃʊʌʒ\u0361θ… !,.:;?");
  ASSERT_EQ(t.ids.size(), 2u * 45 + 3);
  for (int32_t k = 0; k < 45; ++k) {
    EXPECT_EQ(t.ids[1 + 2 * k], kTokenBlank);
    EXPECT_EQ(t.ids[2 + 2 * k], 4 + k) << "symbol " << k;
  }
  EXPECT_EQ(t.log.find("WARN"), std::string::npos);
}

TEST(Tokenizer, AliasesAndIgnoredMarks) {
  EXPECT_EQ(run("gɡ").ids, (std::vector<int32_t>{2, 3, 32, 3, 32, 3, 1}));
  EXPECT_EQ(run("rɹ").ids, (std::vector<int32_t>{2, 3, 34, 3, 34, 3, 1}));
  EXPECT_EQ(run("ɒ").ids, (std::vector<int32_t>{2, 3, 27, 3, 1}));
  EXPECT_EQ(run("ɜː").ids, (std::vector<int32_t>{2, 3, 30, 3, 1}));
  const Tokens ignored = run("ˈˌːɾ\u0303èø");
  EXPECT_EQ(ignored.ids, (std::vector<int32_t>{2, 3, 1}));
  EXPECT_EQ(ignored.log, "[tokenize] 3 tokens: 2 3 1\n");
}

TEST(Tokenizer, UnknownCharactersWarnWithTheirBytes) {
  const Tokens t = run("ɐ");
  EXPECT_EQ(t.ids, (std::vector<int32_t>{2, 3, 1}));
  EXPECT_EQ(t.log, warning("ɐ", "c990") + "[tokenize] 3 tokens: 2 3 1\n");
  EXPECT_EQ(run("A7cqxy").log, warning("A", "41") + warning("7", "37") + warning("c", "63") +
                                   warning("q", "71") + warning("x", "78") + warning("y", "79") +
                                   "[tokenize] 3 tokens: 2 3 1\n");
}

TEST(Tokenizer, BrokenUtf8IsReadByLeadByteAndNeverPastTheEnd) {
  // A lone lead byte at the end, a lead cut by the NUL, a stray continuation byte.
  EXPECT_EQ(run("a\xC9").log, warning("\\xc9", "c9") + "[tokenize] 5 tokens: 2 3 4 3 1\n");
  // The character itself is escaped where it is not valid UTF-8.
  EXPECT_EQ(run("\xE2\x80").log, warning("\\xe2\\x80", "e280") + "[tokenize] 3 tokens: 2 3 1\n");
  EXPECT_EQ(run("\x80" "a").ids, (std::vector<int32_t>{2, 3, 4, 3, 1}));
  // An invalid 0xFF lead takes four bytes, whatever they are.
  EXPECT_EQ(run("\xFF" "abcd").log, warning("\\xff" "abc", "ff616263") +
                                        "[tokenize] 5 tokens: 2 3 6 3 1\n");
  // Continuation bytes are not checked: C9 followed by 'a' is one unknown character.
  EXPECT_EQ(run("\xC9" "ab").ids, (std::vector<int32_t>{2, 3, 5, 3, 1}));
}

TEST(Tokenizer, UnknownCharsWarnTenTimesThenCount) {
  const Tokens t = run(std::string(1000, '\x01'));
  EXPECT_EQ(t.ids, (std::vector<int32_t>{2, 3, 1}));
  std::string expected;
  for (int i = 0; i < 10; ++i) expected += warning("\\x01", "01");
  EXPECT_EQ(t.log, expected + "[tokenize] WARN: 990 more unknown chars skipped\n"
                              "[tokenize] 3 tokens: 2 3 1\n");
}

TEST(Tokenizer, SummaryListsAtMostTwentyIds) {
  const Tokens t = run("aaaaaaaaaaa");  // 11 symbols: 25 ids
  ASSERT_EQ(t.ids.size(), 25u);
  EXPECT_EQ(t.log, "[tokenize] 25 tokens: 2 3 4 3 4 3 4 3 4 3 4 3 4 3 4 3 4 3 4 3,...\n");
}

TEST(Tokenizer, CapacityCutsTheSequenceAtTheEnd) {
  const std::string text(2100, 'a');
  EXPECT_EQ(run(text, 5000).ids.size(), 4203u);

  std::vector<int32_t> out(8, -7);
  testing::internal::CaptureStderr();
  EXPECT_EQ(tokenize("aaaa", out.data(), 5), 5);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, (std::vector<int32_t>{2, 3, 4, 3, 4, -7, -7, -7}));

  int count = -1;
  testing::internal::CaptureStderr();
  int32_t *ids = tokenize_to_array(text.c_str(), &count);
  testing::internal::GetCapturedStderr();
  ASSERT_NE(ids, nullptr);
  ASSERT_EQ(count, kMaxTokens);
  EXPECT_EQ(ids[0], kTokenStart);
  EXPECT_EQ(ids[kMaxTokens - 1], kTokenBlank);
  std::free(ids);
}

TEST(Tokenizer, ArrayVersionOwnsAFullSequence) {
  int count = -1;
  testing::internal::CaptureStderr();
  int32_t *ids = tokenize_to_array("ə", &count);
  int32_t *uncounted = tokenize_to_array("ə", nullptr);
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(count, 5);
  EXPECT_EQ(std::vector<int32_t>(ids, ids + count), (std::vector<int32_t>{2, 3, 29, 3, 1}));
  EXPECT_NE(uncounted, nullptr);
  std::free(ids);
  std::free(uncounted);
}

TEST(Tokenizer, NullArgumentsGiveNoIds) {
  int32_t out[4];
  EXPECT_EQ(tokenize(nullptr, out, 4), 0);
  EXPECT_EQ(tokenize("a", nullptr, 4), 0);
  EXPECT_EQ(tokenize("a", out, -1), 0);
  int count = -1;
  EXPECT_EQ(tokenize_to_array(nullptr, &count), nullptr);
  EXPECT_EQ(count, 0);
}

TEST(Tokenizer, HugeInputStaysBounded) {
  const std::string text(10 << 20, 'a');
  int count = 0;
  testing::internal::CaptureStderr();
  int32_t *ids = tokenize_to_array(text.c_str(), &count);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(count, kMaxTokens);
  std::free(ids);
}

}  // namespace
