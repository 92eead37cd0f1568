#include "text/sentences.h"

#include <cctype>
#include <cstring>
#include <string>

namespace {

// Abbreviations a period does not end a sentence after, lower-case, without it.
constexpr const char *kAbbreviations[] = {
    "mr",   "mrs",    "ms",   "dr",  "st",  "jr",  "sr",  "vs",  "etc",  "e.g", "i.e",
    "no",   "approx", "prof", "gen", "rev", "lt",  "col", "sgt", "capt", "co",  "inc",
    "ltd",  "mt",     "ft",   "jan", "feb", "mar", "apr", "jun", "jul",  "aug", "sep",
    "sept", "oct",    "nov",  "dec", "fig", "vol", "ca",  "cf",  "al",   "ave", "blvd"};

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool is_ascii_alpha(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool is_lower(char c) { return c >= 'a' && c <= 'z'; }

// Closing quotes and brackets that belong to the sentence they follow.
size_t closer_length(std::string_view text, size_t at) {
  const char c = text[at];
  if (c == '"' || c == '\'' || c == ')' || c == ']') return 1;
  // ” ’ » in UTF-8.
  for (const char *closer : {"\u201d", "\u2019", "\u00bb"})
    if (text.substr(at, std::strlen(closer)) == closer) return std::strlen(closer);
  return 0;
}

// The word before the period at `dot`, lower-cased, periods inside it kept ("e.g").
std::string word_before(std::string_view text, size_t dot) {
  size_t begin = dot;
  while (begin > 0 && (is_ascii_alpha(text[begin - 1]) || text[begin - 1] == '.')) --begin;
  std::string word(text.substr(begin, dot - begin));
  for (char &c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word;
}

bool is_initials(const std::string &word) {
  // "j" of "J.", "u.s" of "U.S.".
  bool initials = !word.empty();
  for (size_t i = 0; i < word.size(); ++i)
    initials = initials && (i % 2 == 0 ? is_ascii_alpha(word[i]) : word[i] == '.');
  return initials;
}

bool is_abbreviation(const std::string &word) {
  for (const char *known : kAbbreviations)
    if (word == known) return true;
  return false;
}

// Titles stand before a name (or, Jr. Sr. Esq., after one and before more of
// it): a capital after them starts no sentence.
constexpr const char *kTitles[] = {"mr",  "mrs", "ms",  "dr",  "prof", "st", "lt",  "capt", "gen",
                                   "col", "maj", "sgt", "rev", "ft",   "hon", "jr", "sr",  "esq"};

bool is_title(const std::string &word) {
  for (const char *title : kTitles)
    if (word == title) return true;
  return false;
}

// Whether the terminator run ending at `run_end` ends the sentence, the next
// sentence's first byte (past closers and white space) being at `next`.
bool ends_sentence(std::string_view text, size_t begin, size_t run_end, size_t next) {
  if (next >= text.size()) return true;
  const char first = text[next];
  if (run_end - begin == 1 && text[begin] == '.') {
    const std::string word = word_before(text, begin);
    if (is_title(word) || is_initials(word)) return false;
    // "etc. The end" ends; "approx. 3 km" and "e.g. apples" go on.
    if (is_abbreviation(word)) return std::isupper(static_cast<unsigned char>(first)) != 0;
  }
  // An ellipsis or a stop before a lower-case word or a clause mark goes on.
  return !is_lower(first) && first != ',' && first != ';' && first != ':';
}

bool is_terminator(std::string_view text, size_t at, size_t *length) {
  const char c = text[at];
  if (c == '.' || c == '!' || c == '?') {
    *length = 1;
    return true;
  }
  if (text.substr(at, 3) == "\u2026") {
    *length = 3;
    return true;
  }
  return false;
}

}  // namespace

TextSpan next_sentence(std::string_view text, size_t from) {
  size_t begin = from;
  while (begin < text.size() && is_space(text[begin])) ++begin;
  size_t at = begin;
  while (at < text.size()) {
    size_t length = 0;
    if (!is_terminator(text, at, &length)) {
      ++at;
      continue;
    }
    size_t end = at + length;
    while (end < text.size() && is_terminator(text, end, &length)) end += length;
    const size_t run_end = end;
    while (end < text.size() && (length = closer_length(text, end)) > 0) end += length;
    size_t next = end;
    while (next < text.size() && is_space(text[next])) ++next;
    // "a.b" and "3.5" are no ends: the stop must be followed by white space.
    if (end == text.size() || (is_space(text[end]) && ends_sentence(text, at, run_end, next))) {
      return {begin, end - begin};
    }
    at = run_end;
  }
  size_t end = text.size();
  while (end > begin && is_space(text[end - 1])) --end;
  return {begin, end - begin};
}
