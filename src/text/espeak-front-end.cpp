// espeak-ng IPA with stress marks, as the public VITS voices and Piper's were
// trained: text to ASCII, lower-cased, abbreviations expanded, IPA clause by
// clause with the punctuation kept between clauses, white space collapsed;
// each code point of the result is one symbol of the voice's table.

#include <espeak-ng/speak_lib.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "log/log.h"
#include "text/espeak-lock.h"
#include "text/front-end.h"
#include "text/log-echo.h"

namespace {

// Marks kept between clauses: those that survive the ASCII step below.
constexpr std::string_view kClauseMarks = ";:,.!?\"";

struct Abbreviation {
  const char *short_form;  // lower-case, without its period
  const char *long_form;
};
constexpr Abbreviation kAbbreviations[] = {
    {"mrs", "misess"},   {"mr", "mister"},     {"dr", "doctor"},     {"st", "saint"},
    {"co", "company"},   {"jr", "junior"},     {"maj", "major"},     {"gen", "general"},
    {"drs", "doctors"},  {"rev", "reverend"},  {"lt", "lieutenant"}, {"hon", "honorable"},
    {"sgt", "sergeant"}, {"capt", "captain"},  {"esq", "esquire"},   {"ltd", "limited"},
    {"col", "colonel"},  {"ft", "fort"}};

// ASCII spellings of Latin-1 letters U+00C0 .. U+00FF (accents removed).
constexpr const char *kLatin1[] = {
    "A", "A", "A", "A", "A", "A", "AE", "C", "E", "E", "E", "E", "I", "I", "I", "I",
    "D", "N", "O", "O", "O", "O", "O",  "x", "O", "U", "U", "U", "U", "Y", "Th", "ss",
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",
    "d", "n", "o", "o", "o", "o", "o",  "/", "o", "u", "u", "u", "u", "y", "th", "y"};

uint32_t code_point(const std::string &text, size_t i, size_t n) {
  const auto byte = [&](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(text[i + k])); };
  if (n == 1) return byte(0);
  uint32_t cp = byte(0) & (0xFF >> (n + 1));
  for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (byte(k) & 0x3F);
  return cp;
}

// ASCII only: accents removed, typographic marks as their ASCII forms, the rest dropped.
std::string ascii_of(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const size_t n = utf8_length(text, i);
    const uint32_t cp = code_point(text, i, n);
    i += n;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp >= 0xC0 && cp <= 0xFF) {
      out += kLatin1[cp - 0xC0];
    } else if (cp == 0x2014 || cp == 0x2013) {
      out += '-';
    } else if (cp == 0x2026) {
      out += "...";
    } else if (cp == 0xAB || cp == 0xBB || cp == 0x201C || cp == 0x201D) {
      out += '"';
    } else if (cp == 0x2018 || cp == 0x2019) {
      out += '\'';
    } else if (cp == 0xA1) {
      out += '!';
    } else if (cp == 0xBF) {
      out += '?';
    } else if (cp == 0xA0) {
      out += ' ';
    }
  }
  return out;
}

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'; }

// Lower-cased, with each abbreviation that stands as a word before its period written out.
std::string expanded(const std::string &ascii) {
  std::string lower;
  for (const char c : ascii) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  std::string out;
  for (size_t i = 0; i < lower.size();) {
    bool replaced = false;
    if (is_letter(lower[i]) && (i == 0 || !is_letter(lower[i - 1]))) {
      for (const Abbreviation &a : kAbbreviations) {
        const size_t n = std::strlen(a.short_form);
        if (lower.compare(i, n, a.short_form) == 0 && i + n < lower.size() && lower[i + n] == '.') {
          out += a.long_form;
          i += n + 1;
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out += lower[i++];
  }
  return out;
}

// espeak-ng's IPA of one clause's text, its pieces joined by spaces.
std::string ipa_of(const std::string &clause) {
  std::string out;
  const void *text = clause.c_str();
  while (text) {
    const char *piece = espeak_TextToPhonemes(&text, espeakCHARS_UTF8, espeakPHONEMES_IPA);
    if (piece && *piece) out += std::string(out.empty() ? "" : " ") + piece;
  }
  return out;
}

// White space runs as one space, none at the ends.
std::string collapsed(const std::string &text) {
  std::string out;
  for (const char c : text) {
    const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r';
    if (!space) {
      out += c;
    } else if (!out.empty() && out.back() != ' ') {
      out += ' ';
    }
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

class EspeakFrontEnd : public FrontEnd {
 public:
  // Throws when espeak-ng has no voice of the table's language.
  explicit EspeakFrontEnd(const FrontEndTable &table) : table_(table) {
    const EspeakLock language(table.language);
  }

  std::vector<int32_t> ids(const char *text) const override {
    const std::string clean = expanded(ascii_of(text));
    std::string phonemes;
    {
      const EspeakLock language(table_.language);
      for (size_t begin = 0;;) {
        const size_t mark = clean.find_first_of(kClauseMarks, begin);
        phonemes += ipa_of(clean.substr(begin, mark == std::string::npos ? mark : mark - begin));
        if (mark == std::string::npos) break;
        phonemes += clean[mark];
        phonemes += ' ';
        begin = mark + 1;
      }
    }
    const std::string ipa = collapsed(phonemes);
    if (log_enabled(LogLevel::kInfo))
      log_line(LogLevel::kInfo, "[frontend] espeak: \"%s\" -> \"%s\"", log_echo(text).c_str(),
               log_echo(ipa.c_str()).c_str());
    return framed_table_ids(ipa, table_);
  }

 private:
  FrontEndTable table_;
};

}  // namespace

std::unique_ptr<FrontEnd> make_espeak_front_end(const FrontEndTable &table) {
  return std::make_unique<EspeakFrontEnd>(table);
}
