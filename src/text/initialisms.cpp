#include "text/initialisms.h"

#include <algorithm>
#include <cstring>

#include "text/ascii.h"
#include "text/lexicon.h"

namespace {

// Longer capitalised words not in the lexicon are more often shouted words
// than initialisms, unless they have no vowel to say them by.
constexpr size_t kLongestUnknownInitialism = 4;
constexpr size_t kLongestWord = 63;

// All-capital words that the lexicon has as another word.
constexpr std::string_view kSpelledAnyway[] = {"US"};

bool all_upper(std::string_view word) {
  for (char c : word) {
    if (!is_upper(c)) return false;
  }
  return true;
}

// About one stress mark per letter: the lexicon says it letter by letter. It
// leaves one out now and then in longer ones ("bˌibisˈi").
bool pronounced_letter_by_letter(const char *pron, size_t letters) {
  size_t stresses = 0;
  for (const char *p = pron; *p; ++p) {
    // U+02C8 and U+02CC: primary and secondary stress.
    if (p[0] == '\xCB' && (p[1] == '\x88' || p[1] == '\x8C')) ++stresses;
  }
  return stresses >= (letters >= 3 ? letters - 1 : letters);
}

bool is_initialism(std::string_view word) {
  if (word.size() < 2 || !all_upper(word)) return false;
  for (std::string_view s : kSpelledAnyway) {
    if (word == s) return true;
  }
  if (const char *pron = lexicon_lookup_any_case(word)) {
    return pronounced_letter_by_letter(pron, word.size());
  }
  return word.size() <= kLongestUnknownInitialism || !has_vowel(word);
}

}  // namespace

const char *lexicon_lookup_any_case(std::string_view word) {
  if (word.size() > kLongestWord) return nullptr;
  char lower[kLongestWord + 1];
  for (size_t i = 0; i < word.size(); ++i) lower[i] = to_lower(word[i]);
  lower[word.size()] = '\0';
  return lexicon_lookup(lower);
}

bool has_vowel(std::string_view word) {
  for (char c : word) {
    if (std::strchr("aeiouyAEIOUY", c)) return true;
  }
  return false;
}

std::string spelled(std::string_view letters) {
  std::string out;
  for (char c : letters) {
    if (!is_letter(c)) continue;
    if (!out.empty()) out += ' ';
    if (to_lower(c) == 'a') {
      out += "eigh";
    } else {
      out += to_lower(c);
    }
  }
  return out;
}

void read_word(std::string_view word, Spoken &out) {
  if (is_initialism(word)) {
    out.add(spelled(word));
    return;
  }
  // "CDs", "URLs": a plural initialism.
  const std::string_view stem = word.substr(0, word.size() - 1);
  if (word.size() >= 3 && word.back() == 's' && is_initialism(stem)) {
    out.add(spelled(stem) + "'s");
    return;
  }
  out.add(word);
}

size_t read_dotted(std::string_view s, Spoken &out) {
  size_t i = 0;
  size_t letters = 0;
  // Groups of one or two letters, each but the last followed by a point: "U.S", "Ph.D".
  while (true) {
    const size_t n = count_letters(s.substr(i));
    if (n == 0 || n > 2) return 0;
    i += n;
    letters += n;
    if (i + 1 >= s.size() || s[i] != '.' || !is_letter(s[i + 1])) break;
    ++i;
  }
  if (letters < 2 || i == count_letters(s) || (i < s.size() && is_digit(s[i]))) return 0;
  out.add(spelled(s.substr(0, i)));
  return i;
}

size_t read_ampersand_initialism(std::string_view s, Spoken &out) {
  constexpr size_t kLongestGroup = 3;
  size_t i = 0;
  int groups = 0;
  while (true) {
    size_t n = 0;
    while (i + n < s.size() && is_upper(s[i + n])) ++n;
    if (n == 0 || n > kLongestGroup || (i + n < s.size() && is_lower(s[i + n]))) return 0;
    i += n;
    ++groups;
    if (i + 1 >= s.size() || s[i] != '&' || !is_upper(s[i + 1])) break;
    ++i;
  }
  if (groups < 2) return 0;
  for (size_t g = 0, start = 0; start < i; ++g) {
    const size_t end = std::min(s.find('&', start), i);
    out.add(g ? "and" : "");
    out.add(spelled(s.substr(start, end - start)));
    start = end + 1;
  }
  return i;
}

Taken read_dotted_phrase(const Cursor &cursor, Spoken &out) {
  const Chunk &chunk = cursor.chunk();
  if (chunk.trail.empty() || chunk.trail[0] != '.') return {};
  Spoken words;
  if (read_dotted(chunk.core, words) != chunk.core.size()) return {};
  out.add(words.take());
  return took_period(cursor, 1, out);
}
