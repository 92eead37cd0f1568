#include "text/unicode-fold.h"

#include <unicode/translit.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <cstdio>
#include <memory>

#include "log/log.h"

namespace {

// Other scripts to Latin first (their letters decompose differently);
// compatibility decomposition gives "…" -> "...", "ﬁ" -> "fi", "℃" -> "°C";
// the combining marks left by it go; Latin-ASCII maps the rest of Latin and
// the typographic punctuation. The micro sign is a unit prefix, not the Greek
// letter.
constexpr const char *kFoldId =
    "NFC; [^\\u00B5] Any-Latin; [^\\u00B5] NFKD; [:Nonspacing Mark:] Remove; NFC; Latin-ASCII";

// A transliterator must not be used by two threads at once: one per thread,
// made on first need. Null when ICU cannot make it (its data is missing).
const icu::Transliterator *folder() {
  thread_local std::unique_ptr<icu::Transliterator> instance = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> t(icu::Transliterator::createInstance(
        icu::UnicodeString(kFoldId, -1, US_INV), UTRANS_FORWARD, status));
    if (U_FAILURE(status)) {
      log_line(LogLevel::kWarning,
               "[normalise] WARNING: no Unicode folding (%s): non-ASCII text dropped",
               u_errorName(status));
      t.reset();
    }
    return t;
  }();
  return instance.get();
}

// Emoji and other symbols, but not degree signs: "™" is not to be read "TM".
// Invalid UTF-8 arrives as U+FFFD, a symbol too.
bool is_dropped(UChar32 c) {
  return u_charType(c) == U_OTHER_SYMBOL && c != 0x00B0 && c != 0x2103 && c != 0x2109;
}

// « » ‹ ›: quotation marks, which Latin-ASCII would make "<<" and ">>", read
// as "less than".
bool is_guillemet(UChar32 c) { return c == 0x00AB || c == 0x00BB || c == 0x2039 || c == 0x203A; }

bool is_kept_symbol(std::string_view utf8) {
  for (std::string_view s : kKeptSymbols) {
    if (utf8 == s) return true;
  }
  return false;
}

// Appends the ASCII of folded text and the kept symbols; anything else is a space.
void append_ascii(std::string &out, const std::string &folded) {
  const int32_t n = static_cast<int32_t>(folded.size());
  for (int32_t i = 0; i < n;) {
    const int32_t start = i;
    UChar32 c;
    U8_NEXT(folded.data(), i, n, c);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else if (c > 0x7F && is_kept_symbol(std::string_view(folded).substr(start, i - start))) {
      out.append(folded, start, i - start);
    } else {
      out += ' ';
    }
  }
}

// Transliterates `piece` and appends what is kept of it.
void fold_piece(const icu::Transliterator &t, icu::UnicodeString &piece, std::string &out) {
  t.transliterate(piece);
  std::string folded;
  piece.toUTF8String(folded);
  append_ascii(out, folded);
  piece.remove();
}

void fold_run(std::string &out, std::string_view run) {
  // Transliteration slows down more than linearly with the length of what it
  // is given: a long run without spaces (Chinese, Japanese) goes in pieces,
  // cut before a character that starts a new combining sequence.
  constexpr int32_t kPiece = 64;
  const icu::Transliterator *t = folder();
  if (!t) {
    out += ' ';
    return;
  }
  const icu::UnicodeString decoded =
      icu::UnicodeString::fromUTF8(icu::StringPiece(run.data(), static_cast<int32_t>(run.size())));
  icu::UnicodeString piece;
  for (int32_t i = 0; i < decoded.length();) {
    const UChar32 c = decoded.char32At(i);
    i += U16_LENGTH(c);
    if (piece.length() >= kPiece && u_getCombiningClass(c) == 0 &&
        u_charType(c) != U_NON_SPACING_MARK) {
      fold_piece(*t, piece, out);
    }
    piece += c == 0x2014 || c == 0x2015 ? icu::UnicodeString(u" -- ")
             : is_guillemet(c)          ? icu::UnicodeString(u"\"")
             : is_dropped(c)            ? icu::UnicodeString(u" ")
                                        : icu::UnicodeString(c);
  }
  fold_piece(*t, piece, out);
}

}  // namespace

std::string fold_to_ascii(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      // Line breaks stay: a blank line ends a paragraph.
      out += ((c < 0x20 && c != '\n') || c == 0x7F) ? ' ' : static_cast<char>(c);
      ++i;
      continue;
    }
    size_t end = i;
    while (end < utf8.size() && static_cast<unsigned char>(utf8[end]) >= 0x80) ++end;
    fold_run(out, utf8.substr(i, end - i));
    i = end;
  }
  return out;
}
