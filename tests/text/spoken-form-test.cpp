// The normaliser's words pointing back at the written words they were read from.

#include "text/spoken-form.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// "spoken word=written words" for every spoken word.
std::vector<std::string> sources(const std::string &written_text, size_t base = 0) {
  SourcedText written;
  written.append_verbatim(written_text, base);
  const SourcedText spoken = spoken_form(written);
  std::vector<std::string> out;
  for (size_t at = 0; at < spoken.text.size();) {
    while (at < spoken.text.size() && spoken.text[at] == ' ') ++at;
    size_t end = at;
    while (end < spoken.text.size() && spoken.text[end] != ' ') ++end;
    if (end == at) break;
    const TextSpan s = spoken.source_of({at, end - at});
    out.push_back(spoken.text.substr(at, end - at) + "=" +
                  written_text.substr(s.offset - base, s.length));
    at = end;
  }
  return out;
}

TEST(SpokenForm, WordsLeftAlonePointAtThemselvesAndMadeWordsAtWhatTheyRead) {
  EXPECT_EQ(sources("Hello there.", 100),
            (std::vector<std::string>{"Hello=Hello", "there.=there."}));
  const auto paid = sources("I paid $5 for 12 books.");
  ASSERT_GE(paid.size(), 7u);
  EXPECT_EQ(paid[0], "I=I");
  EXPECT_EQ(paid[1], "paid=paid");
  EXPECT_EQ(paid[2], "five=$5");
  EXPECT_EQ(paid[3], "dollars=$5");
  EXPECT_EQ(paid[4], "for=for");
  EXPECT_EQ(paid[5], "twelve=12");
  EXPECT_EQ(paid.back(), "books.=books.");
}

TEST(SpokenForm, NumbersAtTheEdgesAndNothingToSay) {
  EXPECT_EQ(sources("$5"), (std::vector<std::string>{"five=$5", "dollars=$5"}));
  EXPECT_EQ(sources("Call 911"),
            (std::vector<std::string>{"Call=Call", "nine=911", "hundred=911", "eleven=911"}));
  EXPECT_TRUE(sources("").empty());
}

}  // namespace
