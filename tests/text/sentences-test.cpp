// Sentence ends: stops, abbreviations, initials, decimals, ellipses, quotes, white space.

#include "text/sentences.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> sentences(const std::string &text) {
  std::vector<std::string> out;
  for (TextSpan s = next_sentence(text, 0); s.length > 0; s = next_sentence(text, s.end()))
    out.push_back(text.substr(s.offset, s.length));
  return out;
}

using Lines = std::vector<std::string>;

TEST(Sentences, EndAtStopsBeforeANewSentence) {
  EXPECT_EQ(sentences("Hello there. How are you? Fine!"),
            (Lines{"Hello there.", "How are you?", "Fine!"}));
  EXPECT_EQ(sentences("  One.\n\nTwo  "), (Lines{"One.", "Two"}));
  EXPECT_EQ(sentences("What?! Really..."), (Lines{"What?!", "Really..."}));
  EXPECT_EQ(sentences("He said \"stop.\" Then he left."),
            (Lines{"He said \"stop.\"", "Then he left."}));
  EXPECT_EQ(sentences("(It was late.) We went home."), (Lines{"(It was late.)", "We went home."}));
  EXPECT_EQ(sentences("Born in 1990. 2000 came later."),
            (Lines{"Born in 1990.", "2000 came later."}));
  EXPECT_EQ(sentences("She wrote \u201cyes.\u201d It ended."),
            (Lines{"She wrote \u201cyes.\u201d", "It ended."}));
  EXPECT_TRUE(sentences("").empty());
  EXPECT_TRUE(sentences(" \n\t ").empty());
  EXPECT_EQ(sentences("no stop at all"), (Lines{"no stop at all"}));
}

TEST(Sentences, GoOnAfterAbbreviationsInitialsDecimalsAndEllipses) {
  EXPECT_EQ(sentences("Dr. Smith paid $5.50 at 3.45 p.m. today."),
            (Lines{"Dr. Smith paid $5.50 at 3.45 p.m. today."}));
  EXPECT_EQ(sentences("Mr. and Mrs. Jones met St. Louis."),
            (Lines{"Mr. and Mrs. Jones met St. Louis."}));
  EXPECT_EQ(sentences("Lt. Marsh and Capt. Lee met Gen. Ward, Col. Hay, Maj. Roe, Sgt. Kay, "
                      "Rev. Ames and Hon. Lady Bea at Ft. Knox with Tom Hale Jr. Esq. Ann."),
            (Lines{"Lt. Marsh and Capt. Lee met Gen. Ward, Col. Hay, Maj. Roe, Sgt. Kay, "
                   "Rev. Ames and Hon. Lady Bea at Ft. Knox with Tom Hale Jr. Esq. Ann."}));
  EXPECT_EQ(sentences("J. R. R. Tolkien wrote it. The U.S. Army read it."),
            (Lines{"J. R. R. Tolkien wrote it.", "The U.S. Army read it."}));
  EXPECT_EQ(sentences("Fruit, e.g. apples, i.e. food, approx. 3 kg, No. 5 vs. 6."),
            (Lines{"Fruit, e.g. apples, i.e. food, approx. 3 kg, No. 5 vs. 6."}));
  EXPECT_EQ(sentences("Bring pens, paper, etc. The rest is here."),
            (Lines{"Bring pens, paper, etc.", "The rest is here."}));
  EXPECT_EQ(sentences("I was\u2026 thinking. Wait... what, now?"),
            (Lines{"I was\u2026 thinking.", "Wait... what, now?"}));
  EXPECT_EQ(sentences("See example.com and v1.2.3 now."),
            (Lines{"See example.com and v1.2.3 now."}));
}

TEST(Sentences, CoverEveryByteOutsideWhiteSpace) {
  const std::string text = " A b. C d?  E \"f.\" G... h. I";
  std::string joined;
  for (TextSpan s = next_sentence(text, 0); s.length > 0; s = next_sentence(text, s.end()))
    joined += text.substr(s.offset, s.length);
  std::string without_space;
  for (char c : text)
    if (c != ' ') without_space += c;
  std::string joined_without_space;
  for (char c : joined)
    if (c != ' ') joined_without_space += c;
  EXPECT_EQ(joined_without_space, without_space);
}

}  // namespace
