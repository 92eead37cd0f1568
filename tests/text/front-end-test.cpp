// Front-ends per voice: framing as the table gives it, letters through a
// character table, and espeak-ng IPA with the public VITS text cleaning.

#include "text/front-end.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "log/log.h"
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

TEST(FrontEnd, CharactersAreLowerCasedAndUnknownOnesDropped) {
  const auto front_end = make_front_end(table_of(FrontEndKind::kCharacters, {"a", "b", " ", "é"}));
  testing::internal::CaptureStderr();
  EXPECT_EQ(front_end->ids("Ab É!"), (Ids{0, 1, 0, 2, 0, 3, 0, 4, 0}));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("symbol '!' is not in the voice's table"), std::string::npos) << log;
  EXPECT_THROW(front_end->ids("???"), std::runtime_error);
}

class EspeakFrontEnd : public testing::Test {
 protected:
  void SetUp() override {
    testing::internal::CaptureStderr();
    ASSERT_EQ(phonemizer_init(nullptr), 0);
    testing::internal::GetCapturedStderr();
    set_log_level(LogLevel::kError);  // the symbols the tables below lack are dropped quietly
  }
  void TearDown() override {
    set_log_level(LogLevel::kInfo);
    phonemizer_shutdown();
  }

  // The text through a table of every code point the IPA of `text` uses, read back as text.
  static std::string phonemes(const std::string &text, const std::string &language = "en-us") {
    std::vector<std::string> symbols = {" ", ",", ".", "!", "?", "\""};
    for (const char *ipa = "abdefhijklmnoprstuvwzæðŋɑɔəɚɛɜɡɪɹɾʃʊʌʒθˈˌːᵻɐ"; *ipa;) {
      const std::string s(ipa);
      const size_t n = utf8_length(s, 0);
      symbols.push_back(s.substr(0, n));
      ipa += n;
    }
    FrontEndTable table = table_of(FrontEndKind::kEspeak, symbols);
    table.blank.reset();
    table.language = language;
    const Ids ids = make_front_end(table)->ids(text.c_str());
    std::string out;
    for (const int32_t id : ids) out += symbols[static_cast<size_t>(id - 1)];
    return out;
  }
};

TEST_F(EspeakFrontEnd, KeepsPunctuationBetweenClausesAndStress) {
  const std::string ipa = phonemes("Hello,   world!");
  EXPECT_NE(ipa.find(", "), std::string::npos) << ipa;
  EXPECT_EQ(ipa.back(), '!') << ipa;
  EXPECT_NE(ipa.find("ˈ"), std::string::npos) << ipa;
  EXPECT_EQ(ipa.find("  "), std::string::npos) << ipa;
}

TEST_F(EspeakFrontEnd, ExpandsAbbreviationsAndRemovesAccents) {
  EXPECT_EQ(phonemes("Dr. Smith"), phonemes("doctor smith"));
  EXPECT_EQ(phonemes("Mrs. Café"), phonemes("misess cafe"));
  EXPECT_EQ(phonemes("“Hi”"), phonemes("\"hi\""));
}

// espeak-ng is one per process: voices of two languages and the korva
// front-end in parallel each get their own language's phonemes.
TEST_F(EspeakFrontEnd, LanguagesOfParallelVoicesDoNotMix) {
  const std::string text = "The tomato in the bath, blorptastic.";
  const std::string american = phonemes(text, "en-us");
  const std::string british = phonemes(text, "en-gb-x-rp");
  ASSERT_NE(american, british);
  std::unique_ptr<char, decltype(&std::free)> korva(phonemize(text.c_str()), &std::free);
  ASSERT_NE(korva, nullptr);
  const std::string korva_ipa = korva.get();
  std::atomic<int> wrong{0};
  auto repeat = [&](auto speak, const std::string &expected) {
    return std::thread([&wrong, speak, expected] {
      for (int i = 0; i < 15; ++i)
        if (speak() != expected) ++wrong;
    });
  };
  std::thread threads[] = {repeat([&] { return phonemes(text, "en-us"); }, american),
                           repeat([&] { return phonemes(text, "en-gb-x-rp"); }, british),
                           repeat(
                               [&] {
                                 std::unique_ptr<char, decltype(&std::free)> ipa(
                                     phonemize(text.c_str()), &std::free);
                                 return std::string(ipa ? ipa.get() : "");
                               },
                               korva_ipa)};
  for (auto &thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

TEST_F(EspeakFrontEnd, RefusesAnUnknownLanguage) {
  FrontEndTable table = table_of(FrontEndKind::kEspeak, {"a"});
  table.language = "no-such-language";
  EXPECT_THROW(make_front_end(table), std::runtime_error);
}

}  // namespace
