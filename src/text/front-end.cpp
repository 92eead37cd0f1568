#include "text/front-end.h"

#include <cstdio>
#include <stdexcept>

#include "log/log.h"

size_t utf8_length(const std::string &text, size_t i) {
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
    case FrontEndKind::kPiper:
      return make_espeak_front_end(table);
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

std::vector<int32_t> table_ids(const std::string &text, const FrontEndTable &table) {
  std::vector<int32_t> ids;
  for (size_t i = 0; i < text.size();) {
    const size_t n = utf8_length(text, i);
    const std::string symbol = text.substr(i, n);
    i += n;
    const auto found = table.symbols.find(symbol);
    if (found != table.symbols.end()) {
      ids.push_back(found->second);
    } else {
      log_line(LogLevel::kWarning,
               "[frontend] WARN: symbol '%s' is not in the voice's table, dropped", symbol.c_str());
    }
  }
  return ids;
}

std::vector<int32_t> framed_table_ids(const std::string &text, const FrontEndTable &table) {
  const std::vector<int32_t> symbols = table_ids(text, table);
  if (symbols.empty()) throw std::runtime_error("No symbol of the text is in the voice's table");
  return frame_symbols(symbols, table);
}
