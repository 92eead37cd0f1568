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
  EXPECT_EQ(p.parts[3].text.text, "tomato");  // what a voice without the phonemes says
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

// A few hundred bytes must not ask for megabytes of text, hours of silence or
// a rate past the engine's bounds.
TEST(Ssml, WhatAShortDocumentAsksForIsBounded) {
  // Five levels of tenfold entities: 352 bytes that would read as megabytes.
  std::string laughs = "<!DOCTYPE speak [<!ENTITY a \"laugh laugh laugh laugh laugh \">";
  for (char level = 'b'; level <= 'f'; ++level) {
    laughs += std::string("<!ENTITY ") + level + " \"";
    for (int i = 0; i < 10; ++i) laughs += std::string("&") + static_cast<char>(level - 1) + ";";
    laughs += "\">";
  }
  laughs += "]><speak>&f;</speak>";
  Parsed p = parse(laughs);
  EXPECT_FALSE(p.ok);
  EXPECT_NE(p.error.find("<!ENTITY a>: entity declarations are not read"), std::string::npos)
      << p.error;
  // A document type without declarations is still read.
  p = parse("<!DOCTYPE speak SYSTEM \"synthesis.dtd\"><speak>Hi &amp; bye</speak>");
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.parts[0].text.text, "Hi & bye");

  std::string breaks = "<speak>";
  for (int i = 0; i < 10; ++i) breaks += "<break time=\"60s\"/>";
  EXPECT_TRUE(parse(breaks + "</speak>").ok);  // ten minutes
  p = parse(breaks + "<break time=\"1ms\"/></speak>");
  EXPECT_FALSE(p.ok);
  EXPECT_NE(p.error.find("the breaks add up to more than 10 minutes"), std::string::npos)
      << p.error;
  std::string many = "<speak>";
  for (int i = 0; i < 200; ++i) many += "<break time=\"60s\"/>";
  EXPECT_FALSE(parse(many + "</speak>").ok);

  std::string nested;
  for (int i = 0; i < 60; ++i) nested += "<prosody rate=\"x-fast\">";
  nested += "go";
  for (int i = 0; i < 60; ++i) nested += "</prosody>";
  p = parse("<speak>" + nested + "</speak>");
  EXPECT_FALSE(p.ok);
  EXPECT_NE(p.error.find("<prosody rate=\"x-fast\"> inside the rates around it makes 5.0625: "
                         "together they must stay from 0.2 to 5"),
            std::string::npos)
      << p.error;
  p = parse("<speak><prosody rate=\"4\"><prosody rate=\"0.25\">even</prosody></prosody></speak>");
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_FLOAT_EQ(p.parts[0].rate, 1.0f);
  EXPECT_FALSE(parse("<speak><prosody rate=\"0.5\"><prosody rate=\"0.3\">x</prosody></prosody>"
                     "</speak>")
                   .ok);
}

}  // namespace
