// The constructed voice's front-end: lexicon and espeak-ng IPA, its own
// 45-symbol table and framing (tokenizer.h).

#include <cstdlib>
#include <stdexcept>

#include "text/front-end.h"
#include "text/phonemizer.h"
#include "text/tokenizer.h"

namespace {

class KorvaFrontEnd : public FrontEnd {
 public:
  std::vector<int32_t> ids(const char *text) const override {
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
};

}  // namespace

std::unique_ptr<FrontEnd> make_korva_front_end() { return std::make_unique<KorvaFrontEnd>(); }
