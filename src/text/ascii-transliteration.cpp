#include "text/ascii-transliteration.h"

#include <unicode/translit.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <memory>
#include <string>
#include <unordered_map>

namespace {

// U+00A0 .. U+00FF, where the cleaners' table spells differently from ICU's
// Latin-ASCII (money and other signs) or ICU keeps the character.
constexpr const char *kLatin1[] = {
    " ",  "!", "C/", "PS", "$?", "Y=",  "|",     "SS",    "\"",    "(c)", "a", "<<", "!", "",  "(r)",
    "-",  "deg", "+-", "2", "3", "'", "u", "P", "*", ",", "1", "o", ">>", " 1/4 ", " 1/2 ", " 3/4 ",
    "?",  "A", "A", "A", "A", "A", "A", "AE", "C", "E", "E", "E", "E", "I", "I", "I", "I",
    "D",  "N", "O", "O", "O", "O", "O", "x", "O", "U", "U", "U", "U", "Y", "Th", "ss",
    "a",  "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",
    "d",  "n", "o", "o", "o", "o", "o", "/", "o", "u", "u", "u", "u", "y", "th", "y"};

// U+2010 .. U+2027: dashes, quotes and dots of general punctuation.
constexpr const char *kPunctuation[] = {"-", "-", "-", "-",  "--", "--", "||", "_",
                                        "'", "'", ",", "'",  "\"", "\"", ",,", "\"",
                                        "+", "++", "*", "*>", ".",  "..", "...", "."};

// Other scripts to Latin, then Latin letters to ASCII; what is still not
// ASCII afterwards is dropped by the caller.
constexpr const char *kTransliteration =
    "Any-Latin; NFD; [:Nonspacing Mark:] Remove; NFC; Latin-ASCII";

// One transliterator and one table of spellings per thread: a transliterator
// must not be used by two threads at once.
std::string icu_spelling(UChar32 c) {
  thread_local std::unique_ptr<icu::Transliterator> transliterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> t(icu::Transliterator::createInstance(
        icu::UnicodeString(kTransliteration, -1, US_INV), UTRANS_FORWARD, status));
    if (U_FAILURE(status)) t.reset();
    return t;
  }();
  if (!transliterator) return "";
  icu::UnicodeString piece(c);
  transliterator->transliterate(piece);
  std::string spelt;
  piece.toUTF8String(spelt);
  std::string ascii;
  for (const char b : spelt)
    if (static_cast<unsigned char>(b) < 0x80) ascii += b;
  return ascii;
}

std::string spelling(UChar32 c) {
  if (c >= 0xA0 && c <= 0xFF) return kLatin1[c - 0xA0];
  if (c >= 0x2010 && c <= 0x2027) return kPunctuation[c - 0x2010];
  switch (c) {
    case 0x2032: return "'";
    case 0x2033: return "\"";
    case 0x2039: return "<";
    case 0x203A: return ">";
    case 0x20AC: return "EUR";
    case 0x2122: return "(tm)";
    default: break;
  }
  thread_local std::unordered_map<UChar32, std::string> known;
  const auto found = known.find(c);
  if (found != known.end()) return found->second;
  return known.emplace(c, icu_spelling(c)).first->second;
}

}  // namespace

SourcedText ascii_transliteration(const SourcedText &text) {
  SourcedText out;
  const auto n = static_cast<int32_t>(text.text.size());
  for (int32_t i = 0; i < n;) {
    const int32_t start = i;
    UChar32 c;
    U8_NEXT(text.text.data(), i, n, c);
    const TextSpan source =
        text.source_of({static_cast<size_t>(start), static_cast<size_t>(i - start)});
    if (c >= 0 && c < 0x80) {
      out.append_standing_for(std::string(1, static_cast<char>(c)), source);
    } else if (c > 0) {
      out.append_standing_for(spelling(c), source);
    }
  }
  return out;
}
