// The public VITS text pipeline, as its voices were trained: the text cleaned
// (ASCII, lower case, abbreviations written out), cut at its punctuation
// marks, each piece between them spoken by espeak-ng on its own with its
// phoneme trace on (so a clause of one word keeps its stress, as a run of the
// espeak-ng program gives it), the marks put back as the text wrote them,
// white space collapsed; each code point of the result is one symbol.

#include <cstdio>
#include <stdexcept>

#include "text/english-cleaners.h"
#include "text/espeak-ng.h"
#include "text/espeak-words.h"
#include "text/front-end.h"
#include "text/log-echo.h"
#include "text/punctuation-runs.h"

namespace {

class EspeakFrontEnd : public FrontEnd {
 public:
  explicit EspeakFrontEnd(const FrontEndTable &table) : table_(table) {
    espeak_require_language(table.language);
  }

  std::vector<Utterance> utterances(std::string_view text,
                                    DroppedSymbols &dropped) const override {
    SourcedText written;
    written.append_verbatim(text, 0);
    const SourcedText clean = english_cleaned(written);
    PhonemeText phonemes;
    // Each line is read on its own; the line breaks become spaces with the rest.
    for (size_t line = 0; line <= clean.text.size();) {
      size_t end = clean.text.find('\n', line);
      if (end == std::string::npos) end = clean.text.size();
      for (const TextPiece &piece :
           punctuation_runs(std::string_view(clean.text).substr(line, end - line))) {
        const TextSpan span{line + piece.span.offset, piece.span.length};
        if (piece.marks) {
          phonemes.append(std::string_view(clean.text).substr(span.offset, span.length));
        } else {
          append_spoken(clean, span, phonemes);
        }
      }
      if (end < clean.text.size()) phonemes.append("\n");
      line = end + 1;
    }
    const PhonemeText collapsed = phonemes.whitespace_collapsed();
    std::fprintf(stderr, "[frontend] espeak: \"%s\" -> \"%s\"\n",
                 log_echo(std::string(text).c_str()).c_str(),
                 log_echo(collapsed.text().c_str()).c_str());
    Utterance utterance = collapsed.utterance(table_, dropped);
    if (utterance.symbols.empty()) return {};
    return {std::move(utterance)};
  }

  // The pipeline reads every mark, and writes its own abbreviations out.
  ReadingStyle reading_style() const override { return {true, english_abbreviations_written_out}; }

 private:
  // espeak-ng's phonemes of the piece `span` of `clean`, each spoken word
  // pointing at the written words it says.
  void append_spoken(const SourcedText &clean, TextSpan span, PhonemeText &phonemes) const {
    const std::string_view piece = std::string_view(clean.text).substr(span.offset, span.length);
    const EspeakSpeech speech = espeak_speak(piece, table_.language);
    const std::vector<std::string> words = spoken_words(speech.trace);
    const std::vector<TextSpan> said = spoken_word_spans(piece, speech, words.size());
    for (size_t k = 0; k < words.size(); ++k) {
      if (k > 0) phonemes.append(" ");
      const TextSpan in_clean{span.offset + said[k].offset, said[k].length};
      phonemes.append(words[k], clean.source_of(in_clean));
    }
  }

  FrontEndTable table_;
};

}  // namespace

std::unique_ptr<FrontEnd> make_espeak_front_end(const FrontEndTable &table) {
  return std::make_unique<EspeakFrontEnd>(table);
}
