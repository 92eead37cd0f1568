// The constructed voice's front-end: lexicon and espeak-ng IPA, its own
// 45-symbol table and framing (tokenizer.h), read word by word.

#include <cstdlib>
#include <stdexcept>

#include "text/front-end.h"
#include "text/phonemizer.h"
#include "text/tokenizer.h"

namespace {

class KorvaFrontEnd : public FrontEnd {
 public:
  std::vector<Utterance> utterances(std::string_view text, DroppedSymbols &) const override {
    std::vector<PhonemeItem> items;
    if (!phonemize_items(std::string(text).c_str(), &items))
      throw std::runtime_error("Phonemize failed");
    if (items.empty()) return {};
    return utterances_of(items);
  }
};

}  // namespace

std::unique_ptr<FrontEnd> make_korva_front_end() { return std::make_unique<KorvaFrontEnd>(); }

std::vector<int32_t> korva_whole_text_ids(const char *text) {
  char *phonemes = phonemize(text);
  if (!phonemes) throw std::runtime_error("Phonemize failed");
  int n_ids = 0;
  int32_t *framed = tokenize_to_array(phonemes, &n_ids);
  std::free(phonemes);
  if (!framed) throw std::runtime_error("Tokenize failed");
  std::vector<int32_t> ids(framed, framed + n_ids);
  std::free(framed);
  return ids;
}
