// Items -> utterances: ids as the tokenizer frames them, word spans, cuts at
// clause marks and between words, nothing dropped.

#include "text/utterances.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "text/tokenizer.h"

namespace {

PhonemeItem word(size_t offset, size_t length, const std::string &phonemes) {
  return {offset, length, phonemes, true};
}
PhonemeItem mark(size_t offset, char c) { return {offset, 1, std::string(1, c), false}; }

std::vector<Utterance> quietly(const std::vector<PhonemeItem> &items) {
  testing::internal::CaptureStderr();
  auto out = utterances_of(items);
  testing::internal::GetCapturedStderr();
  return out;
}

TEST(Utterances, OneUtteranceFramesLikeTheTokenizerAndSpansItsWords) {
  // "Hi, you." with a stress mark the tokenizer ignores.
  const auto out = quietly({word(0, 2, "hˈaɪ"), mark(2, ','), word(4, 3, "ju"), mark(7, '.')});
  ASSERT_EQ(out.size(), 1u);
  const Utterance &u = out[0];
  EXPECT_EQ(u.phonemes, "hˈaɪ , ju .");
  std::vector<int32_t> expected(kMaxTokens);
  testing::internal::CaptureStderr();
  expected.resize(tokenize(u.phonemes.c_str(), expected.data(), kMaxTokens));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(u.ids, expected);
  // h a ɪ ␠ , ␠ j u ␠ .
  EXPECT_EQ(u.symbols,
            (std::vector<std::string>{"h", "a", "ɪ", " ", ",", " ", "j", "u", " ", "."}));
  ASSERT_EQ(u.words.size(), 2u);
  EXPECT_EQ(u.words[0].offset, 0u);
  EXPECT_EQ(u.words[0].first_symbol, 0u);
  EXPECT_EQ(u.words[0].n_symbols, 3u);
  EXPECT_EQ(u.words[1].offset, 4u);
  EXPECT_EQ(u.words[1].length, 3u);
  EXPECT_EQ(u.words[1].first_symbol, 6u);
  EXPECT_EQ(u.words[1].n_symbols, 2u);
}

TEST(Utterances, TooLongIsCutAfterAClauseMarkElseBetweenWordsAndNothingIsLost) {
  // 700 three-symbol words, a comma after every 100th: about 2 800 symbols.
  std::vector<PhonemeItem> items;
  for (size_t i = 0; i < 700; ++i) {
    items.push_back(word(i * 10, 3, "bad"));
    if (i % 100 == 99) items.push_back(mark(i * 10 + 3, ','));
  }
  const auto out = quietly(items);
  ASSERT_EQ(out.size(), 2u);
  size_t words = 0;
  for (const Utterance &u : out) {
    EXPECT_LE(u.ids.size(), static_cast<size_t>(kMaxTokens));
    EXPECT_EQ(u.ids.back(), kTokenEnd);
    words += u.words.size();
  }
  EXPECT_EQ(words, 700u);
  EXPECT_EQ(out[0].phonemes.back(), ',');  // after the last comma that fits
  EXPECT_EQ(out[1].words.front().offset, out[0].words.back().offset + 10);

  // Without clause marks: between words, every word kept in order.
  std::vector<PhonemeItem> plain(items.begin(), items.end());
  plain.erase(
      std::remove_if(plain.begin(), plain.end(), [](const PhonemeItem &i) { return !i.word; }),
      plain.end());
  const auto cut = quietly(plain);
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[0].words.size() + cut[1].words.size(), 700u);
  EXPECT_EQ(cut[1].words.front().offset, cut[0].words.back().offset + 10);
}

TEST(Utterances, NoItemsGiveOneEmptyUtterance) {
  const auto out = quietly({});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].ids, (std::vector<int32_t>{2, 3, 1}));
  EXPECT_TRUE(out[0].words.empty());
}

TEST(Utterances, ManyPiecesOfOneSentenceLeaveNoLineEach) {
  // A sentence far over the id limit, framed ahead of its turn: a log line per
  // piece would flood the log of a long text.
  std::vector<PhonemeItem> items;
  for (size_t i = 0; i < 20000; ++i) {
    items.push_back(word(4 * i, 3, "kˈæt"));
    items.push_back(mark(4 * i + 3, ','));
  }
  testing::internal::CaptureStderr();
  const auto out = utterances_of(items);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_GT(out.size(), 10u);
  EXPECT_EQ(log, "");
}

}  // namespace
