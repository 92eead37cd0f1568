// The SSML subset: parts, breaks, say-as, sub, phoneme, prosody, sources of
// the words, unknown elements, malformed markup.

#include "text/ssml.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Kind = SsmlPart::Kind;

struct Parsed {
  std::vector<SsmlPart> parts;
  std::string error;
  std::vector<std::string> warnings;
  bool ok = false;
};

Parsed parse(const std::string &document) {
  Parsed p;
  auto parts = parse_ssml(document, &p.error, &p.warnings);
  p.ok = parts.has_value();
  if (parts) p.parts = std::move(*parts);
  return p;
}

std::string collapsed(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' || c == '\n') {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

TEST(Ssml, SentencesParagraphsAndBreaksMakeParts) {
  const Parsed p = parse(
      "<speak><p><s>One.</s><s>Two <break time=\"300ms\"/> three.</s></p>"
      "<break strength=\"strong\"/><break/>Four</speak>");
  ASSERT_TRUE(p.ok) << p.error;
  ASSERT_EQ(p.parts.size(), 7u);
  EXPECT_EQ(p.parts[0].text.text, "One.");
  EXPECT_TRUE(p.parts[0].new_sentence);
  EXPECT_EQ(collapsed(p.parts[1].text.text), "Two");
  EXPECT_EQ(p.parts[2].kind, Kind::kBreak);
  EXPECT_EQ(p.parts[2].break_ms, 300);
  EXPECT_EQ(collapsed(p.parts[3].text.text), "three.");
  EXPECT_FALSE(p.parts[3].new_sentence);
  EXPECT_EQ(p.parts[4].break_ms, 700);
  EXPECT_EQ(p.parts[5].break_ms, 400);
  EXPECT_EQ(p.parts[6].text.text, "Four");
  EXPECT_TRUE(p.warnings.empty());
}

TEST(Ssml, WordsPointAtTheirPlaceInTheDocument) {
  const std::string doc = "<speak>Tom &amp; Jerry <sub alias=\"World Wide Web\">WWW</sub></speak>";
  const Parsed p = parse(doc);
  ASSERT_TRUE(p.ok) << p.error;
  ASSERT_EQ(p.parts.size(), 1u);
  const SourcedText &t = p.parts[0].text;
  EXPECT_EQ(collapsed(t.text), "Tom & Jerry World Wide Web");
  const auto source = [&](const std::string &word) {
    const TextSpan s = t.source_of({t.text.find(word), word.size()});
    return doc.substr(s.offset, s.length);
  };
  EXPECT_EQ(source("Jerry"), "Jerry");
  EXPECT_EQ(source("&"), "&amp;");
  EXPECT_EQ(source("Wide"), "<sub alias=\"World Wide Web\">WWW</sub>");
}

TEST(Ssml, SayAsPhonemeAndProsody) {
  const Parsed p = parse(
      "<speak><say-as interpret-as=\"characters\">FBI</say-as> "
      "<say-as interpret-as=\"digits\">123</say-as> "
      "<say-as interpret-as=\"cardinal\">42</say-as>"
      "<prosody rate=\"150%\">quick <prosody rate=\"slow\">slower</prosody></prosody>"
      "<phoneme alphabet=\"ipa\" ph=\"təmˈɑːtoʊ\">tomato</phoneme></speak>");
  ASSERT_TRUE(p.ok) << p.error;
  ASSERT_EQ(p.parts.size(), 4u);
  EXPECT_EQ(collapsed(p.parts[0].text.text), "F B I 1 2 3 42");
  EXPECT_FLOAT_EQ(p.parts[1].rate, 1.5f);
  EXPECT_EQ(collapsed(p.parts[1].text.text), "quick");
  EXPECT_FLOAT_EQ(p.parts[2].rate, 1.125f);
  EXPECT_EQ(p.parts[3].kind, Kind::kPhonemes);
  EXPECT_EQ(p.parts[3].phonemes, "təmˈɑːtoʊ");
}

TEST(Ssml, UnknownElementsAreSpokenWithAWarning) {
  const Parsed p =
      parse("<speak><emphasis>Really</emphasis> <say-as interpret-as=\"x\">y</say-as></speak>");
  ASSERT_TRUE(p.ok) << p.error;
  ASSERT_EQ(p.parts.size(), 1u);
  EXPECT_EQ(collapsed(p.parts[0].text.text), "Really y");
  ASSERT_EQ(p.warnings.size(), 2u);
  EXPECT_NE(p.warnings[0].find("unknown element <emphasis>: its text is spoken"),
            std::string::npos);
}

TEST(Ssml, MalformedMarkupAndBadValuesAreClearErrors) {
  const struct {
    const char *document;
    const char *message;
  } cases[] = {
      {"<speak>Hello", "SSML: line 1, column 13: no element found"},
      {"<speak><s>Hi</p></speak>", "mismatched tag"},
      {"Hello <b>", "SSML: line 1, column 1: syntax error"},
      {"", "no element found"},
      {"<speak>&bogus;</speak>", "undefined entity"},
      {"<speak><break time=\"soon\"/></speak>", "<break time=\"soon\">: a time is like 300ms"},
      {"<speak><break strength=\"huge\"/></speak>", "<break strength=\"huge\">"},
      {"<speak><prosody rate=\"warp\">x</prosody></speak>", "<prosody rate=\"warp\">"},
      {"<speak><sub>x</sub></speak>", "<sub> needs an alias attribute"},
      {"<speak><phoneme alphabet=\"x-sampa\" ph=\"a\">x</phoneme></speak>", "only ipa is read"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.document);
    const Parsed p = parse(c.document);
    EXPECT_FALSE(p.ok);
    EXPECT_NE(p.error.find(c.message), std::string::npos) << p.error;
  }
}

}  // namespace
