#include "text/front-end.h"

size_t utf8_length(std::string_view text, size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  const size_t want = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  size_t n = 1;
  while (n < want && i + n < text.size() &&
         (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80)
    ++n;
  return n;
}

std::unique_ptr<FrontEnd> make_front_end(const FrontEndTable &table) {
  switch (table.kind) {
    case FrontEndKind::kEspeak:
      return make_espeak_front_end(table);
    case FrontEndKind::kPiper:
      return make_piper_front_end(table);
    case FrontEndKind::kCharacters:
      return make_characters_front_end(table);
    case FrontEndKind::kKorva:
      break;
  }
  return make_korva_front_end();
}

std::vector<int32_t> frame_symbols(const std::vector<int32_t> &symbols,
                                   const FrontEndTable &table) {
  std::vector<int32_t> ids;
  if (table.start) ids.push_back(*table.start);
  if (table.blank) ids.push_back(*table.blank);
  for (const int32_t id : symbols) {
    ids.push_back(id);
    if (table.blank) ids.push_back(*table.blank);
  }
  if (table.end) ids.push_back(*table.end);
  return ids;
}
