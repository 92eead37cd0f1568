// Text -> IPA items with the real espeak-ng: splitting, punctuation, fallback, bad input, set-up.

#include "text/phonemizer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

constexpr const char *kEspeakData = "/usr/lib/x86_64-linux-gnu/espeak-ng-data";

struct Phonemes {
  bool ok;
  std::string ipa;
  std::string log;
};

Phonemes run(const std::string &text) {
  testing::internal::CaptureStderr();
  std::unique_ptr<char, decltype(&std::free)> out(phonemize(text.c_str()), &std::free);
  const std::string log = testing::internal::GetCapturedStderr();
  return {out != nullptr, out ? out.get() : "", log};
}

std::string counts(int lexicon, int espeak) {
  return "(gruut=" + std::to_string(lexicon) + ", espeak=" + std::to_string(espeak) + ")\n";
}

bool ends_with(const std::string &s, const std::string &tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class Phonemizer : public testing::Test {
 protected:
  void SetUp() override {
    testing::internal::CaptureStderr();
    ASSERT_EQ(phonemizer_init(kEspeakData), 0);
    testing::internal::GetCapturedStderr();
  }
};

TEST_F(Phonemizer, JoinsItemsWithSingleSpaces) {
  const Phonemes p = run("Hello, world!");
  EXPECT_EQ(p.ipa, "həlˈoʊ , wˈɚld !");
  EXPECT_EQ(p.log, "[phonemize] \"Hello, world!\" -> \"həlˈoʊ , wˈɚld !\" " + counts(2, 0));
  EXPECT_EQ(run("?!").ipa, "? !");
  EXPECT_EQ(run(" \t\nhello \n\t world  ").ipa, "həlˈoʊ wˈɚld");
}

TEST_F(Phonemizer, EmptyTextGivesEmptyString) {
  // The echo escapes the control bytes.
  for (const auto &[text, echo] : {std::pair{"", ""}, std::pair{"   \t\n", "   \\x09\\x0a"}}) {
    const Phonemes p = run(text);
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.ipa, "");
    EXPECT_EQ(p.log, "[phonemize] \"" + std::string(echo) + "\" -> \"\" " + counts(0, 0));
  }
  // Only punctuation: kept and dropped marks alike, no word.
  EXPECT_EQ(run("\"()\" ... ;").ipa, ". . . ;");
}

TEST_F(Phonemizer, DroppedBytesSplitWords) {
  const Phonemes digits = run("I have 3 cats.");
  EXPECT_EQ(digits.ipa, "ˈaɪ hˈæv kˈæts .");
  EXPECT_EQ(digits.log.find("WARNING"), std::string::npos);
  EXPECT_EQ(run("hello3world").ipa, "həlˈoʊ wˈɚld");
  EXPECT_EQ(run("hello\rworld").ipa, "həlˈoʊ wˈɚld");
  EXPECT_EQ(run("hello\xC3\xA9world").ipa, "həlˈoʊ wˈɚld");
  // Broken UTF-8 is dropped byte by byte, wherever it stands.
  EXPECT_EQ(run("\x80hello\xFF\xFE world\xC3").ipa, "həlˈoʊ wˈɚld");
}

TEST_F(Phonemizer, CaseMattersOnlyForEspeak) {
  const Phonemes upper = run("HELLO");
  EXPECT_EQ(upper.ipa, "həlˈoʊ");
  EXPECT_TRUE(ends_with(upper.log, counts(1, 0)));
  const Phonemes acronym = run("GPU");  // not in the lexicon
  EXPECT_FALSE(acronym.ipa.empty());
  EXPECT_TRUE(ends_with(acronym.log, counts(0, 1)));
}

TEST_F(Phonemizer, ApostrophesAndHyphensBelongToWords) {
  const Phonemes lexicon = run("don't rock'n'roll");
  EXPECT_EQ(lexicon.ipa, "dˈoʊnt ɹˈɑkənɹˈoʊl");
  EXPECT_TRUE(ends_with(lexicon.log, counts(2, 0)));
  const Phonemes espeak = run("x-ray 'hello'");
  EXPECT_TRUE(ends_with(espeak.log, counts(0, 2)));
  EXPECT_EQ(espeak.ipa.find(' '), espeak.ipa.rfind(' '));  // exactly two items
}

TEST_F(Phonemizer, LongRunsAreCutAfter254Bytes) {
  // 254 x's go to espeak-ng; the rest of the run, "hello", is a word of its own.
  const Phonemes cut = run(std::string(254, 'x') + "hello");
  EXPECT_TRUE(ends_with(cut.ipa, " həlˈoʊ"));
  EXPECT_TRUE(ends_with(cut.log, counts(1, 1)));
  EXPECT_TRUE(ends_with(run(std::string(300, 'a')).log, counts(0, 2)));
}

TEST_F(Phonemizer, UnpronounceableWordsWarnAndVanish) {
  const Phonemes p = run("' hello --");
  EXPECT_EQ(p.ipa, "həlˈoʊ");
  EXPECT_EQ(p.log,
            "[phonemize] WARNING: no pronunciation for '''\n"
            "[phonemize] WARNING: no pronunciation for '--'\n"
            "[phonemize] \"' hello --\" -> \"həlˈoʊ\" " + counts(1, 0));
}

TEST_F(Phonemizer, AHundredThousandLetterWordWarnsTenTimesAndEchoesLittle) {
  const Phonemes p = run(std::string(100'000, 'q') + " \x1b[31m");
  EXPECT_TRUE(p.ok);
  size_t warnings = 0;
  for (size_t at = p.log.find("no pronunciation"); at != std::string::npos;
       at = p.log.find("no pronunciation", at + 1))
    ++warnings;
  EXPECT_LE(warnings, 10u);
  EXPECT_LT(p.log.size(), 4000u) << p.log.substr(0, 400);
  EXPECT_EQ(p.log.find('\x1b'), std::string::npos);
}

TEST_F(Phonemizer, HugeTextGrowsTheOutput) {
  std::string text, expected;
  while (text.size() < (10u << 20)) {
    text += "hello, world! ";
    expected += expected.empty() ? "həlˈoʊ , wˈɚld !" : " həlˈoʊ , wˈɚld !";
  }
  const Phonemes p = run(text);
  ASSERT_TRUE(p.ok);
  EXPECT_TRUE(p.ipa == expected);  // no 10 MB diff on failure
}

TEST(PhonemizerSetUp, NullTextOrNoInitGivesNull) {
  testing::internal::CaptureStderr();
  phonemizer_shutdown();
  phonemizer_shutdown();  // harmless when not initialised
  EXPECT_EQ(phonemize("hello"), nullptr);
  ASSERT_EQ(phonemizer_init(kEspeakData), 0);
  EXPECT_EQ(phonemize(nullptr), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[phonemize] Initialized (gruut lexicon: 124K words, espeak-ng fallback)\n");
}

TEST(PhonemizerSetUp, BadDataDirectoryFailsWithoutEndingTheProcess) {
  phonemizer_shutdown();
  const std::string empty = testing::TempDir() + "korva-empty-espeak-data";
  mkdir(empty.c_str(), 0700);
  for (const std::string &dir : {empty, empty + "/missing", std::string(kEspeakData) + "/phontab"}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(phonemizer_init(dir.c_str()), -1) << dir;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[phonemize] Failed to initialize espeak-ng: no phoneme data in " + dir + "\n");
    EXPECT_EQ(phonemize("hello"), nullptr);
  }
  testing::internal::CaptureStderr();
  EXPECT_EQ(phonemizer_init(kEspeakData), 0);
  testing::internal::GetCapturedStderr();
}

TEST(PhonemizerSetUp, RepeatedCyclesAndTheDefaultLocation) {
  // espeak-ng 1.51 can hang in its terminate; every cycle must still return.
  testing::internal::CaptureStderr();
  for (const char *dir : {kEspeakData, static_cast<const char *>(nullptr), kEspeakData}) {
    ASSERT_EQ(phonemizer_init(dir), 0);
    ASSERT_EQ(phonemizer_init(dir), 0);  // a second use, as of a second voice
    phonemizer_shutdown();
    std::unique_ptr<char, decltype(&std::free)> out(phonemize("hello GPU"), &std::free);
    ASSERT_NE(out, nullptr);  // the first use goes on
    phonemizer_shutdown();
    EXPECT_EQ(phonemize("hello"), nullptr);
  }
  testing::internal::GetCapturedStderr();
}

TEST(PhonemizerSetUp, AUseWithOtherDataWaitsUntilNoneRunsWithTheFirst) {
  // A copy of the data: the same phonemes from another directory.
  const std::string copy = testing::TempDir() + "korva-espeak-data-copy";
  ASSERT_EQ(
      std::system(("rm -rf '" + copy + "' && cp -r " + kEspeakData + " '" + copy + "'").c_str()),
      0);
  testing::internal::CaptureStderr();
  ASSERT_EQ(phonemizer_init(kEspeakData), 0);
  std::string why;
  EXPECT_EQ(phonemizer_init(copy.c_str(), &why), -1);
  EXPECT_EQ(why, std::string("espeak-ng runs with the data in ") + kEspeakData +
                     " for another voice, and a process has one espeak-ng");
  EXPECT_EQ(phonemizer_init(nullptr), 0);  // no directory named: the one running
  phonemizer_shutdown();
  phonemizer_shutdown();
  EXPECT_EQ(phonemizer_init(copy.c_str(), &why), 0);  // nobody uses the first any more
  std::unique_ptr<char, decltype(&std::free)> out(phonemize("blorptastic"), &std::free);
  EXPECT_NE(out, nullptr);
  phonemizer_shutdown();
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("[phonemize] Failed to initialize espeak-ng from " + copy +
                     ": espeak-ng runs with the data in "),
            std::string::npos)
      << log;
  std::system(("rm -rf '" + copy + "'").c_str());
}

}  // namespace
