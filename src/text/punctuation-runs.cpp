#include "text/punctuation-runs.h"

#include "text/front-end.h"

namespace {

constexpr std::string_view kMarks[] = {";", ":", ",", ".", "!", "?",  "¡", "¿",
                                       "—", "…", "\"", "«", "»", "“", "”"};

// Bytes of the mark at byte i, or 0.
size_t mark_at(std::string_view text, size_t i) {
  for (const std::string_view mark : kMarks)
    if (text.substr(i, mark.size()) == mark) return mark.size();
  return 0;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// White space from byte i on.
size_t spaces_at(std::string_view text, size_t i) {
  size_t n = 0;
  while (i + n < text.size() && is_space(text[i + n])) ++n;
  return n;
}

// The length of the run of marks (with white space) that starts at byte i, or 0.
size_t run_at(std::string_view text, size_t i) {
  size_t at = i;
  for (;;) {
    const size_t lead = spaces_at(text, at);
    size_t marks = 0;
    while (size_t n = mark_at(text, at + lead + marks)) marks += n;
    if (marks == 0) break;
    at += lead + marks;
    at += spaces_at(text, at);
  }
  return at - i;
}

}  // namespace

std::vector<TextPiece> punctuation_runs(std::string_view text) {
  std::vector<TextPiece> pieces;
  size_t words = 0;  // where the current piece of words began
  for (size_t i = 0; i < text.size();) {
    const size_t run = run_at(text, i);
    if (run == 0) {
      i += utf8_length(text, i);
      continue;
    }
    if (i > words) pieces.push_back({{words, i - words}, false});
    pieces.push_back({{i, run}, true});
    i += run;
    words = i;
  }
  if (text.size() > words) pieces.push_back({{words, text.size() - words}, false});
  return pieces;
}
