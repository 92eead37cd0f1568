// Long texts of the whole-text front-ends cut into utterances that fit:
// every character kept, in order, cut at clause marks before spaces before
// anywhere else.

#include "text/fitting-ids.h"

#include <gtest/gtest.h>

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
std::string spelt(const std::vector<std::vector<int32_t>> &pieces, const FrontEndTable &table,
                  std::vector<std::string> *each = nullptr) {
  std::string all;
  for (const auto &ids : pieces) {
    std::string piece;
    for (size_t k = 1; k < ids.size(); k += 2)
      for (const auto &[symbol, id] : table.symbols)
        if (id == ids[k]) piece += symbol;
    all += piece;
    if (each) each->push_back(piece);
  }
  return all;
}

class FittingIds : public testing::Test {
 protected:
  FrontEndTable table_ = letters();
  std::unique_ptr<FrontEnd> front_end_ = make_front_end(table_);
};

TEST_F(FittingIds, ATextThatFitsIsOnePiece) {
  const auto pieces = fitting_ids(*front_end_, "one two.", 17);
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_EQ(pieces[0], front_end_->ids("one two."));
}

TEST_F(FittingIds, CutsAtClauseMarksThenSpacesThenLettersAndKeepsEverything) {
  const std::string text = "first clause here, then the second one. and a tail";
  std::vector<std::string> each;
  const auto pieces = fitting_ids(*front_end_, text, 41);
  EXPECT_EQ(spelt(pieces, table_, &each), text);
  for (const auto &ids : pieces) EXPECT_LE(ids.size(), 41u);
  ASSERT_GE(each.size(), 2u);
  EXPECT_EQ(each[0], "first clause here,");  // the clause mark, not the middle word

  const std::string word(60, 'x');
  const auto cut_word = fitting_ids(*front_end_, word, 21);
  EXPECT_EQ(spelt(cut_word, table_), word);
  for (const auto &ids : cut_word) EXPECT_LE(ids.size(), 21u);
}

TEST_F(FittingIds, NothingOfTheTableGivesNoPieceAndATooSmallLimitIsAnError) {
  testing::internal::CaptureStderr();
  EXPECT_TRUE(fitting_ids(*front_end_, "123!!!", 100).empty());
  EXPECT_TRUE(fitting_ids(*front_end_, "   ", 100).empty());
  testing::internal::GetCapturedStderr();
  EXPECT_THROW(fitting_ids(*front_end_, "ab", 2), std::runtime_error);
}

}  // namespace
