// Letters as they are written, lower-cased, one symbol each: the front-end of
// voices trained on characters rather than phonemes.

#include "text/front-end.h"
#include "text/word-marks.h"

namespace {

// ASCII and Latin-1 capitals lower-cased; every other byte as it is.
std::string lower_cased(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 'A' && c <= 'Z') {
      out += static_cast<char>(c + 32);
    } else if (c == 0xC3 && i + 1 < text.size()) {
      // U+00C0 .. U+00DE are 0xC3 0x80 .. 0x9E; U+00D7 (multiplication sign) has no lower case.
      auto next = static_cast<unsigned char>(text[++i]);
      if (next >= 0x80 && next <= 0x9E && next != 0x97) next += 0x20;
      out += static_cast<char>(c);
      out += static_cast<char>(next);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

class CharactersFrontEnd : public FrontEnd {
 public:
  explicit CharactersFrontEnd(const FrontEndTable &table) : table_(table) {}

  std::vector<Utterance> utterances(std::string_view text,
                                    DroppedSymbols &dropped) const override {
    const std::string lower = lower_cased(std::string(text));
    // Lower-casing keeps every byte where it was: a word is a run between
    // spaces, the marks at its ends apart.
    PhonemeText letters;
    for (size_t i = 0; i < lower.size();) {
      size_t end = i;
      while (end < lower.size() && is_space(lower[end]) == is_space(lower[i])) ++end;
      const std::string_view text(lower);
      if (is_space(lower[i])) {
        letters.append(text.substr(i, end - i));
      } else {
        const TextSpan core = word_core(text, {i, end - i});
        letters.append(text.substr(i, core.offset - i));
        letters.append(text.substr(core.offset, core.length), core);
        letters.append(text.substr(core.end(), end - core.end()));
      }
      i = end;
    }
    Utterance utterance = letters.utterance(table_, dropped);
    if (utterance.symbols.empty()) return {};
    return {std::move(utterance)};
  }

 private:
  FrontEndTable table_;
};

}  // namespace

std::unique_ptr<FrontEnd> make_characters_front_end(const FrontEndTable &table) {
  return std::make_unique<CharactersFrontEnd>(table);
}
