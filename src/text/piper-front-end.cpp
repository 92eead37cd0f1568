// Phonemes as Piper voices were trained on them: espeak-ng's IPA clause by
// clause in the voice's own espeak-ng language, each clause followed by the
// punctuation that ended it (a comma, colon or semicolon with a space), one
// utterance per sentence; the IPA in Unicode NFD, each code point through the
// voice's phoneme map and then its table, framed ^ _ p1 _ p2 ... _ $. Where
// the voice asks for silence after a phoneme, the sentence is cut after it and
// the silence follows that piece.

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <cstdio>
#include <stdexcept>

#include "text/espeak-ng.h"
#include "text/espeak-words.h"
#include "text/front-end.h"
#include "text/log-echo.h"
#include "log/log.h"

namespace {

bool is_word_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         (static_cast<unsigned char>(c) >= 0x80);
}

// Marks after which espeak-ng pauses as after a semicolon, in the middle of a
// sentence: "...", "…", "—" and "–".
constexpr std::string_view kSemicolonLike[] = {"...", "\xE2\x80\xA6", "\xE2\x80\x94",
                                               "\xE2\x80\x93"};

// The punctuation that ended a clause: the last of . ? ! , : ; after its last
// word (';' for the marks espeak-ng reads as one), or 0 when the clause ended
// otherwise.
char terminator_of(std::string_view clause) {
  for (size_t i = clause.size(); i-- > 0;) {
    for (const std::string_view mark : kSemicolonLike) {
      if (i + 1 >= mark.size() && clause.substr(i + 1 - mark.size(), mark.size()) == mark)
        return ';';
    }
    const char c = clause[i];
    if (c == '.' || c == '?' || c == '!' || c == ',' || c == ':' || c == ';') return c;
    if (is_word_character(c)) return 0;
  }
  return 0;
}

// espeak-ng marks a word it reads in another language with "(fr)" before it
// and "(en)" after: the marks are not phonemes.
std::string without_language_marks(const std::string &ipa) {
  std::string out;
  bool in_mark = false;
  for (const char c : ipa) {
    if (c == '(') in_mark = true;
    if (!in_mark) out += c;
    if (c == ')') in_mark = false;
  }
  return out;
}

std::string nfd(const std::string &utf8) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2 *normalizer = icu::Normalizer2::getNFDInstance(status);
  if (U_FAILURE(status)) return utf8;
  const icu::UnicodeString decomposed =
      normalizer->normalize(icu::UnicodeString::fromUTF8(utf8), status);
  if (U_FAILURE(status)) return utf8;
  std::string out;
  decomposed.toUTF8String(out);
  return out;
}

class PiperFrontEnd : public FrontEnd {
 public:
  explicit PiperFrontEnd(const FrontEndTable &table) : table_(table) {
    espeak_require_language(table.language);
  }

  std::vector<Utterance> utterances(std::string_view text,
                                    DroppedSymbols &dropped) const override {
    Sentences sentences{table_, dropped};
    size_t begin = 0;
    bool unmarked = false;  // the clause before ended without a mark
    for (const EspeakClause &clause : espeak_clauses(text, table_.language)) {
      // Its words never run into the next clause's.
      if (unmarked) sentences.append(" ");
      const std::string_view written = text.substr(begin, clause.end - begin);
      append_clause(written, begin, without_language_marks(clause.ipa), sentences);
      const char terminator = terminator_of(written);
      unmarked = terminator == 0;
      if (terminator) sentences.append(std::string(1, terminator));
      if (terminator == ',' || terminator == ':' || terminator == ';') sentences.append(" ");
      if (terminator == '.' || terminator == '?' || terminator == '!') sentences.end_sentence();
      begin = clause.end;
    }
    sentences.end_sentence();
    if (log_enabled(LogLevel::kInfo))
      log_line(LogLevel::kInfo, "[frontend] piper: \"%s\" -> \"%s\"",
                 log_echo(std::string(text).c_str()).c_str(),
                 log_echo(sentences.phonemes().c_str()).c_str());
    return sentences.take();
  }

  // espeak-ng reads every mark: which ends a clause, which is a pause.
  ReadingStyle reading_style() const override { return {true, {}}; }

 private:
  // The utterances as the phonemes arrive: a piece ends after each phoneme
  // the voice wants silence after, and at each sentence's end.
  class Sentences {
   public:
    Sentences(const FrontEndTable &table, DroppedSymbols &dropped)
        : table_(table), dropped_(dropped) {}

    // `phonemes` (NFD) through the phoneme map, said for `word` of the text.
    void append(const std::string &phonemes, std::optional<TextSpan> word = std::nullopt) {
      const std::string decomposed = nfd(phonemes);
      for (size_t i = 0; i < decomposed.size();) {
        const size_t n = utf8_length(decomposed, i);
        const std::string phoneme = decomposed.substr(i, n);
        i += n;
        const auto mapped = table_.phoneme_map.find(phoneme);
        if (mapped == table_.phoneme_map.end()) {
          append_phoneme(phoneme, word);
        } else {
          for (const std::string &to : mapped->second) append_phoneme(to, word);
        }
      }
    }
    void end_sentence() {
      end_piece(0.0f);
      sentence_started_ = false;
    }
    const std::string &phonemes() const { return all_; }
    std::vector<Utterance> take() { return std::move(utterances_); }

   private:
    void append_phoneme(const std::string &phoneme, std::optional<TextSpan> word) {
      piece_.append(phoneme, word);
      all_ += phoneme;
      const auto silence = table_.phoneme_silence.find(phoneme);
      if (silence != table_.phoneme_silence.end()) end_piece(silence->second);
    }
    void end_piece(float silence) {
      Utterance utterance = piece_.utterance(table_, dropped_);
      piece_ = PhonemeText();
      if (utterance.symbols.empty()) {
        if (!utterances_.empty()) utterances_.back().silence_after += silence;
        return;
      }
      utterance.starts_sentence = !sentence_started_;
      utterance.silence_after = silence;
      sentence_started_ = true;
      utterances_.push_back(std::move(utterance));
    }

    const FrontEndTable &table_;
    DroppedSymbols &dropped_;
    PhonemeText piece_;
    std::string all_;
    bool sentence_started_ = false;
    std::vector<Utterance> utterances_;
  };

  // A clause's words, each pointing at the written words it says; `offset`
  // is where `written` starts in the front-end's text.
  void append_clause(std::string_view written, size_t offset, const std::string &ipa,
                     Sentences &sentences) const {
    const std::vector<std::string> words = spoken_words(ipa);
    const std::vector<TextSpan> said =
        spoken_word_spans(written, espeak_speak(written, table_.language), words.size());
    for (size_t k = 0; k < words.size(); ++k) {
      if (k > 0) sentences.append(" ");
      sentences.append(words[k], TextSpan{offset + said[k].offset, said[k].length});
    }
  }

  FrontEndTable table_;
};

}  // namespace

std::unique_ptr<FrontEnd> make_piper_front_end(const FrontEndTable &table) {
  return std::make_unique<PiperFrontEnd>(table);
}
