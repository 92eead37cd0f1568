// Long texts of the whole-text front-ends cut into utterances that fit:
// every character kept, in order, cut at clause marks before spaces before
// anywhere else.

#include "text/fitting-utterances.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Letters, space, comma and period, one id each from 1; blank 0 between them.
FrontEndTable letters() {
  FrontEndTable table;
  table.kind = FrontEndKind::kCharacters;
  int32_t id = 1;
  for (const char *s : {" ", ",", "."}) table.symbols[s] = id++;
  for (char c = 'a'; c <= 'z'; ++c) table.symbols[std::string(1, c)] = id++;
  table.blank = 0;
  return table;
}

// The text the pieces' ids spell, back through the table.
std::string spelt(const std::vector<Utterance> &pieces, const FrontEndTable &table,
                  std::vector<std::string> *each = nullptr) {
  std::string all;
  for (const Utterance &u : pieces) {
    std::string piece;
    for (size_t k = 1; k < u.ids.size(); k += 2)
      for (const auto &[symbol, id] : table.symbols)
        if (id == u.ids[k]) piece += symbol;
    all += piece;
    if (each) each->push_back(piece);
  }
  return all;
}

class FittingUtterances : public testing::Test {
 protected:
  std::vector<Utterance> fitting(std::string_view text, size_t max_ids) {
    return fitting_utterances(*front_end_, text, max_ids, dropped_);
  }

  FrontEndTable table_ = letters();
  std::unique_ptr<FrontEnd> front_end_ = make_front_end(table_);
  DroppedSymbols dropped_;
};

TEST_F(FittingUtterances, ATextThatFitsIsOnePiece) {
  const auto pieces = fitting("one two.", 17);
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_EQ(pieces[0].ids, front_end_->utterances("one two.", dropped_)[0].ids);
}

TEST_F(FittingUtterances, CutsAtClauseMarksThenSpacesThenLettersAndKeepsEverything) {
  const std::string text = "first clause here, then the second one. and a tail";
  std::vector<std::string> each;
  const auto pieces = fitting(text, 41);
  EXPECT_EQ(spelt(pieces, table_, &each), text);
  for (const Utterance &u : pieces) EXPECT_LE(u.ids.size(), 41u);
  ASSERT_GE(each.size(), 2u);
  EXPECT_EQ(each[0], "first clause here,");  // the clause mark, not the middle word
  // Words point into the whole text, not into their piece.
  const UtteranceWord &tail = pieces.back().words.back();
  EXPECT_EQ(text.substr(tail.offset, tail.length), "tail");

  const std::string word(60, 'x');
  const auto cut_word = fitting(word, 21);
  EXPECT_EQ(spelt(cut_word, table_), word);
  for (const Utterance &u : cut_word) EXPECT_LE(u.ids.size(), 21u);
}

// Counts what it is asked to read, reading as the letters front-end does.
class Reading : public FrontEnd {
 public:
  explicit Reading(const FrontEnd &inner) : inner_(inner) {}
  std::vector<Utterance> utterances(std::string_view text, DroppedSymbols &dropped) const override {
    longest = std::max(longest, text.size());
    read += text.size();
    return inner_.utterances(text, dropped);
  }
  mutable size_t longest = 0, read = 0;

 private:
  const FrontEnd &inner_;
};

// Reading a long text whole only to cut it would cost more than the text, the
// more so where the reader slows down on long clauses (espeak-ng).
TEST_F(FittingUtterances, ALongTextIsCutBeforeItIsReadAndKeepsEverything) {
  std::string text;
  while (text.size() < 20000) text += "a few words, ";
  const Reading reading(*front_end_);
  const auto pieces = fitting_utterances(reading, text, 101, dropped_);
  EXPECT_EQ(spelt(pieces, table_), text);
  EXPECT_LE(reading.longest, 4u * 101);
  EXPECT_LT(reading.read, 5 * text.size());  // not once per halving of the whole
}

TEST_F(FittingUtterances, NothingOfTheTableGivesNoPieceAndATooSmallLimitIsAnError) {
  testing::internal::CaptureStderr();
  EXPECT_TRUE(fitting("123!!!", 100).empty());
  EXPECT_TRUE(fitting("   ", 100).empty());
  testing::internal::GetCapturedStderr();
  EXPECT_THROW(fitting("ab", 2), std::runtime_error);
}

}  // namespace
