// Front-ends per voice: framing as the table gives it, letters through a
// character table, and espeak-ng IPA with the public VITS text cleaning.

#include "text/front-end.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/phonemizer.h"

namespace {

using Ids = std::vector<int32_t>;

FrontEndTable table_of(FrontEndKind kind, const std::vector<std::string> &symbols) {
  FrontEndTable table;
  table.kind = kind;
  int32_t id = 1;
  for (const std::string &s : symbols) table.symbols[s] = id++;
  table.blank = 0;
  return table;
}

TEST(FrontEnd, FramesAsTheTableSays) {
  FrontEndTable table;
  table.blank = 0;
  EXPECT_EQ(frame_symbols({5, 6}, table), (Ids{0, 5, 0, 6, 0}));  // VITS
  table.start = 1;
  table.end = 2;
  EXPECT_EQ(frame_symbols({5, 6}, table), (Ids{1, 0, 5, 0, 6, 0, 2}));  // Piper: ^ _ s _ s _ $
  table.blank.reset();
  EXPECT_EQ(frame_symbols({5, 6}, table), (Ids{1, 5, 6, 2}));
}

TEST(FrontEnd, CharactersAreLowerCasedUnknownOnesDroppedOnceAndWordsKept) {
  const auto front_end = make_front_end(table_of(FrontEndKind::kCharacters, {"a", "b", " ", "é"}));
  DroppedSymbols dropped;
  testing::internal::CaptureStderr();
  const auto utterances = front_end->utterances("Ab É! ba!", dropped);
  const std::string log = testing::internal::GetCapturedStderr();
  ASSERT_EQ(utterances.size(), 1u);
  EXPECT_EQ(utterances[0].ids, (Ids{0, 1, 0, 2, 0, 3, 0, 4, 0, 3, 0, 2, 0, 1, 0}));
  // One warning for the two exclamation marks.
  EXPECT_EQ(log, "[frontend] WARN: symbol '!' is not in the voice's table, dropped\n");
  // Words are runs between spaces, pointing at the text; symbol k is id 1 + 2k.
  ASSERT_EQ(utterances[0].words.size(), 3u);
  EXPECT_EQ(utterances[0].words[1].offset, 3u);
  EXPECT_EQ(utterances[0].words[1].length, 2u);  // "É", its mark apart
  EXPECT_EQ(utterances[0].id_of_symbol(utterances[0].words[1].first_symbol), 7u);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(front_end->utterances("???", dropped).empty());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[frontend] WARN: symbol '?' is not in the voice's table, dropped\n");
}

}  // namespace
