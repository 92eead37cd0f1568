// The espeak and piper front-ends on the real espeak-ng: the public VITS
// pipeline's cleaning, marks and stress, Piper's clauses, sentences, maps and
// silences, and the words each spoken word says.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "text/front-end.h"
#include "text/phonemizer.h"

namespace {

// Every code point English IPA of espeak-ng uses, with the marks and space.
FrontEndTable table_of(FrontEndKind kind) {
  FrontEndTable table;
  table.kind = kind;
  const std::string all =
      " !\"',-.:;?abcdefhijklmnopqrstuvwxzæçðŋɐɑɔəɚɛɜɡɪɹɾʃʊʌʒʔθˈˌːᵻ̩";
  int32_t id = 3;
  for (size_t i = 0; i < all.size(); i += utf8_length(all, i))
    table.symbols[all.substr(i, utf8_length(all, i))] = id++;
  table.blank = 0;
  if (kind == FrontEndKind::kPiper) {
    table.start = 1;
    table.end = 2;
  }
  return table;
}

struct Word {
  std::string written;  // the bytes of the text it points at
  std::string said;     // its symbols
  bool operator==(const Word &o) const { return written == o.written && said == o.said; }
};

class EspeakFrontEnds : public testing::Test {
 protected:
  void SetUp() override {
    testing::internal::CaptureStderr();
    ASSERT_EQ(phonemizer_init(nullptr), 0);
    testing::internal::GetCapturedStderr();
  }
  void TearDown() override { phonemizer_shutdown(); }

  std::vector<Utterance> read(const std::string &text, const FrontEndTable &table) {
    testing::internal::CaptureStderr();
    auto utterances = make_front_end(table)->utterances(text, dropped_);
    log_ = testing::internal::GetCapturedStderr();
    return utterances;
  }
  std::string phonemes(const std::string &text, FrontEndKind kind = FrontEndKind::kEspeak) {
    std::string all;
    for (const Utterance &u : read(text, table_of(kind))) all += (all.empty() ? "" : "|") + u.phonemes;
    return all;
  }
  static std::vector<Word> words(const std::string &text, const Utterance &u) {
    std::vector<Word> out;
    for (const UtteranceWord &w : u.words) {
      std::string said;
      for (size_t k = w.first_symbol; k < w.first_symbol + w.n_symbols; ++k) said += u.symbols[k];
      out.push_back({text.substr(w.offset, w.length), said});
    }
    return out;
  }

  DroppedSymbols dropped_;
  std::string log_;
};

TEST_F(EspeakFrontEnds, VitsMarksKeepTheirPlaceAndSpacingAndOneWordClausesTheirStress) {
  EXPECT_EQ(phonemes("Wait... did it?\" she asked."), "wˈeɪt... dˈɪd ɪt?\" ʃiː ˈæskt.");
  // A clause of one word is spoken on its own, stressed.
  EXPECT_EQ(phonemes("But, and"), "bˈʌt, ˈænd");
  // p.m. keeps its points inside the word; spaces collapse.
  EXPECT_EQ(phonemes("at  p.m.   now"), "æt pˈiː.ˈɛm. nˈaʊ");
  // Cleaning: ASCII (the long dash is two hyphens, not a mark), lower case, abbreviations.
  EXPECT_EQ(phonemes("Dvořák — Zoë"), phonemes("dvorak -- zoe"));
  EXPECT_EQ(phonemes("Mrs. Quarry St. Smith"), phonemes("misess quarry saint smith"));
  EXPECT_NE(phonemes("Mrs Smith"), phonemes("misess smith"));  // no period, no abbreviation
  // Curly quotes become plain ones, kept as marks.
  EXPECT_EQ(phonemes("“Hi,” he said"), phonemes("\"hi,\" he said"));
}

TEST_F(EspeakFrontEnds, VitsWordsPointAtWhatTheySayThroughTheCleaning) {
  const std::string text = "Dr. Zoë said there were owls in 1066, (really).";
  const auto utterances = read(text, table_of(FrontEndKind::kEspeak));
  ASSERT_EQ(utterances.size(), 1u);
  const std::vector<Word> got = words(text, utterances[0]);
  const std::vector<Word> want = {{"Dr.", "dˈɑːktɚ"},           {"Zoë", "zˈoʊi"},
                                  {"said", "sˈɛd"},             {"there were", "ðɛɹwˌɜːɹ"},
                                  {"owls", "ˈaʊlz"},            {"in", "ɪn"},
                                  {"1066", "wˈʌn θˈaʊzənd sˈɪksti sˈɪks"}, {"really", "ɹˈiəli"}};
  ASSERT_EQ(got.size(), want.size()) << utterances[0].phonemes;
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].written, want[i].written) << i;
    EXPECT_EQ(got[i].said, want[i].said) << i;
  }
  // The blank before each symbol: symbol k is id 1 + 2k.
  EXPECT_EQ(utterances[0].id_of_symbol(0), 1u);
  EXPECT_EQ(utterances[0].ids.front(), 0);
}

TEST_F(EspeakFrontEnds, PiperKeepsEachClausesTerminatorAndCutsSentences) {
  const auto utterances = read("Hello, world! How are you? Fine; thanks", table_of(FrontEndKind::kPiper));
  ASSERT_EQ(utterances.size(), 3u);
  EXPECT_EQ(utterances[0].phonemes, "həlˈoʊ, wˈɜːld!");
  EXPECT_EQ(utterances[1].phonemes, "hˈaʊ ɑːɹ juː?");
  EXPECT_EQ(utterances[2].phonemes, "fˈaɪn; θˈæŋks");
  for (const Utterance &u : utterances) {
    EXPECT_TRUE(u.starts_sentence);
    // ^ _ p1 _ ... pn _ $
    ASSERT_GE(u.ids.size(), 3u);
    EXPECT_EQ(u.ids.size(), 2 * u.symbols.size() + 3);
    EXPECT_EQ(u.ids[0], 1);
    EXPECT_EQ(u.ids[1], 0);
    EXPECT_EQ(u.ids.back(), 2);
    EXPECT_EQ(u.id_of_symbol(0), 2u);
  }
  // The clause's own reading: espeak-ng's text-to-phonemes call leaves a lone word unstressed.
  EXPECT_EQ(phonemes("But, and", FrontEndKind::kPiper), "bˌʌt, ænd");
  // Ellipses and dashes end a clause with a semicolon's pause, in the sentence,
  // and its words stay apart from the next clause's.
  for (const char *text : {"He paused\u2026 then spoke.", "He paused... then spoke.",
                           "He paused \u2014 then spoke.", "He paused \u2013 then spoke."}) {
    EXPECT_EQ(phonemes(text, FrontEndKind::kPiper), "hiː pˈɔːzd; ðˈɛn spˈoʊk.") << text;
  }
}

TEST_F(EspeakFrontEnds, PiperMapsPhonemesCutsAtSilencesAndWarnsOncePerRequest) {
  FrontEndTable table = table_of(FrontEndKind::kPiper);
  table.phoneme_map["ə"] = {"a", "a"};
  table.phoneme_silence[","] = 0.25f;
  table.symbols.erase("ʊ");
  const auto utterances = read("Hello, world. Go on, go on", table);
  ASSERT_EQ(utterances.size(), 4u);
  // The map replaces phonemes before the table: h a a l ...
  EXPECT_EQ(utterances[0].symbols[1], "a");
  EXPECT_EQ(utterances[0].symbols[2], "a");
  EXPECT_FLOAT_EQ(utterances[0].silence_after, 0.25f);
  EXPECT_EQ(utterances[0].symbols.back(), ",");
  EXPECT_FALSE(utterances[1].starts_sentence);  // the sentence goes on after the pause
  EXPECT_TRUE(utterances[2].starts_sentence);
  // "ʊ" (in "go") is missing twice; reported once.
  size_t warnings = 0;
  for (size_t at = log_.find("WARN"); at != std::string::npos; at = log_.find("WARN", at + 1)) ++warnings;
  EXPECT_EQ(warnings, 1u) << log_;
}

TEST_F(EspeakFrontEnds, PiperDecomposesAndWordsPointIntoTheText) {
  FrontEndTable table = table_of(FrontEndKind::kPiper);
  table.language = "de";
  table.symbols.erase("ç");
  table.symbols["\u0327"] = 90;  // the cedilla of a decomposed ç
  const std::string text = "Ich bin hier";
  const auto utterances = read(text, table);
  ASSERT_EQ(utterances.size(), 1u);
  const std::vector<Word> got = words(text, utterances[0]);
  ASSERT_EQ(got.size(), 3u) << utterances[0].phonemes;
  EXPECT_EQ(got[0].written, "Ich");
  EXPECT_EQ(got[0].said, "ɪc\u0327");
  EXPECT_EQ(got[2].written, "hier");
}

// espeak-ng has one language at a time: voices of two languages reading at once must
// each get their own language's phonemes, as when they read alone.
TEST_F(EspeakFrontEnds, VoicesOfTwoLanguagesReadInParallelAsAlone) {
  FrontEndTable american = table_of(FrontEndKind::kPiper);
  FrontEndTable british = american;
  british.language = "en-gb-x-rp";
  const std::string text = "Can you dance after the party? Her car is in the garage.";
  testing::internal::CaptureStderr();
  const auto alone = [&](const FrontEndTable &table) {
    std::string all;
    for (const Utterance &u : make_front_end(table)->utterances(text, dropped_)) all += u.phonemes;
    return all;
  };
  const std::string us = alone(american), gb = alone(british);
  ASSERT_NE(us, gb);
  std::vector<std::string> got(8);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < got.size(); ++i)
    threads.emplace_back([&, i] {
      DroppedSymbols dropped;
      const auto front_end = make_front_end(i % 2 ? british : american);
      for (int round = 0; round < 5; ++round) {
        std::string all;
        for (const Utterance &u : front_end->utterances(text, dropped)) all += u.phonemes;
        if (round == 0 || all != (i % 2 ? gb : us)) got[i] = all;
      }
    });
  for (std::thread &t : threads) t.join();
  testing::internal::GetCapturedStderr();
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], i % 2 ? gb : us) << i;
}

TEST_F(EspeakFrontEnds, RefuseAnUnknownLanguage) {
  for (const FrontEndKind kind : {FrontEndKind::kEspeak, FrontEndKind::kPiper}) {
    FrontEndTable table = table_of(kind);
    table.language = "no-such-language";
    EXPECT_THROW(make_front_end(table), std::runtime_error);
  }
}

}  // namespace
