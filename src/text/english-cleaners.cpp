#include "text/english-cleaners.h"

#include <string_view>

#include "text/ascii-transliteration.h"

namespace {

struct Abbreviation {
  std::string_view short_form;  // lower-case, without its period
  std::string_view long_form;
};
// In the cleaners' order: where two could match at one place, the first wins.
constexpr Abbreviation kAbbreviations[] = {
    {"mrs", "misess"},   {"mr", "mister"},     {"dr", "doctor"},     {"st", "saint"},
    {"co", "company"},   {"jr", "junior"},     {"maj", "major"},     {"gen", "general"},
    {"drs", "doctors"},  {"rev", "reverend"},  {"lt", "lieutenant"}, {"hon", "honorable"},
    {"sgt", "sergeant"}, {"capt", "captain"},  {"esq", "esquire"},   {"ltd", "limited"},
    {"col", "colonel"},  {"ft", "fort"}};

bool is_word_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// The abbreviation that starts at byte i of `text`, with its period.
const Abbreviation *abbreviation_at(std::string_view text, size_t i) {
  if (i > 0 && is_word_byte(text[i - 1])) return nullptr;
  for (const Abbreviation &a : kAbbreviations) {
    const size_t n = a.short_form.size();
    if (i + n >= text.size() || text[i + n] != '.') continue;
    size_t k = 0;
    while (k < n && lower(text[i + k]) == a.short_form[k]) ++k;
    if (k == n) return &a;
  }
  return nullptr;
}

}  // namespace

SourcedText english_abbreviations_written_out(const SourcedText &text) {
  SourcedText out;
  for (size_t i = 0; i < text.text.size();) {
    if (const Abbreviation *a = abbreviation_at(text.text, i)) {
      const TextSpan written{i, a->short_form.size() + 1};
      out.append_standing_for(a->long_form, text.source_of(written));
      i = written.end();
    } else {
      out.text += text.text[i];
      out.origin.push_back(text.origin[i]);
      ++i;
    }
  }
  return out;
}

SourcedText english_cleaned(const SourcedText &text) {
  SourcedText ascii = ascii_transliteration(text);
  for (char &c : ascii.text) c = lower(c);
  return english_abbreviations_written_out(ascii);
}
