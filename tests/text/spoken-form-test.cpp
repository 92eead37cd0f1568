// The normaliser's words pointing back at the written words they were read from.

#include "text/spoken-form.h"

#include "text/english-cleaners.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// "spoken word=written words" for every spoken word.
std::vector<std::string> sources(const std::string &written_text, size_t base = 0,
                                 const ReadingStyle &style = {}) {
  SourcedText written;
  written.append_verbatim(written_text, base);
  const SourcedText spoken = spoken_form(written, style);
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

TEST(SpokenForm, MarksReachAPipelineThatReadsThemAsWritten) {
  const ReadingStyle marks{true, nullptr};
  const std::string text = "\u201cI paid $5,\u201d he said -- then left (quietly)... in 1066!";
  EXPECT_EQ(sources(text, 0, marks),
            (std::vector<std::string>{"\u201cI=\u201cI", "paid=paid",
                                      "five=$5,\u201d", "dollars,\u201d=$5,\u201d", "he=he",
                                      "said=said", "--=--", "then=then", "left=left",
                                      "(quietly)...=(quietly)...", "in=in", "ten=1066!",
                                      "sixty-six!=1066!"}));
  // An abbreviation's period is no stop; a period after an amount is.
  EXPECT_EQ(sources("Dr. Lee paid $5.", 0, marks),
            (std::vector<std::string>{"doctor=Dr.", "Lee=Lee", "paid=paid", "five=$5.",
                                      "dollars.=$5."}));
  // The public VITS pipeline's abbreviations its way first ("misess"), the comma after one kept.
  const ReadingStyle vits{true, english_abbreviations_written_out};
  EXPECT_EQ(sources("Mrs. Lee, Esq., left.", 0, vits),
            (std::vector<std::string>{"misess=Mrs.", "Lee,=Lee,", "esquire,=Esq.,",
                                      "left.=left."}));
  // Words joined by dashes stay joined: the pipeline reads the dashes itself.
  EXPECT_EQ(sources("She left\u2014quickly\u2014and cried.", 0, marks),
            (std::vector<std::string>{"She=She", "left\u2014quickly\u2014and=left\u2014quickly\u2014and",
                                      "cried.=cried."}));
  // Letters with accents are left as written for a pipeline that reads them.
  EXPECT_EQ(sources("Zo\u00eb's caf\u00e9 and Zo\u00eb's home.", 0, marks),
            (std::vector<std::string>{"Zo\u00eb's=Zo\u00eb's", "caf\u00e9=caf\u00e9", "and=and",
                                      "Zo\u00eb's=Zo\u00eb's", "home.=home."}));
}

TEST(SpokenForm, FoldedWordsPointAtTheirOwnWrittenWord) {
  EXPECT_EQ(sources("Zo\u00eb's caf\u00e9 and Zo\u00eb's home."),
            (std::vector<std::string>{"Zoe's=Zo\u00eb's", "cafe=caf\u00e9", "and=and",
                                      "Zoe's=Zo\u00eb's", "home.=home."}));
}

}  // namespace
