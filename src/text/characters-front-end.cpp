// Letters as they are written, lower-cased, one symbol each: the front-end of
// voices trained on characters rather than phonemes.

#include "text/front-end.h"

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

class CharactersFrontEnd : public FrontEnd {
 public:
  explicit CharactersFrontEnd(const FrontEndTable &table) : table_(table) {}

  std::vector<int32_t> ids(const char *text) const override {
    return framed_table_ids(lower_cased(text), table_);
  }

 private:
  FrontEndTable table_;
};

}  // namespace

std::unique_ptr<FrontEnd> make_characters_front_end(const FrontEndTable &table) {
  return std::make_unique<CharactersFrontEnd>(table);
}
