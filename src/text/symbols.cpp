#include "text/symbols.h"

#include "text/ascii.h"

namespace {

struct Symbol {
  std::string_view written;
  std::string_view said;
};

constexpr Symbol kSymbols[] = {
    {"&", "and"},       {"@", "at"},     {"+", "plus"},          {"=", "equals"},
    {"/", "slash"},     {"%", "percent"}, {"<", "less than"},    {">", "greater than"},
    {"°", "degrees"},   {"€", "euros"},  {"£", "pounds"},        {"¥", "yen"},
    {"$", "dollars"},   {"µ", "micro"},
};

}  // namespace

size_t read_symbol(std::string_view s, Spoken &out) {
  if (s.empty()) return 0;
  if (s[0] == '#') {
    // "#1" is a number, "#korva" a hashtag.
    if (s.size() > 1 && is_digit(s[1])) out.add("number");
    if (s.size() > 1 && is_letter(s[1])) out.add("hashtag");
    return 1;
  }
  if (s[0] == '~') {
    if (s.size() > 1 && is_digit(s[1])) out.add("about");
    return 1;
  }
  for (const Symbol &symbol : kSymbols) {
    if (s.substr(0, symbol.written.size()) == symbol.written) {
      out.add(symbol.said);
      return symbol.written.size();
    }
  }
  return 1;
}
