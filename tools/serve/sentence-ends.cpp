#include "sentence-ends.h"

namespace {

constexpr std::string_view kEllipsis = "\xE2\x80\xA6";
// Closers that may stand between the mark and the space: ASCII ones, and the
// right quotation marks ’ ” and » in UTF-8.
constexpr std::string_view kClosers[] = {"\"", "'", ")", "]", "\xE2\x80\x99", "\xE2\x80\x9D",
                                         "\xC2\xBB"};

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The length of a sentence mark ending at `end` (exclusive), or 0.
size_t mark_before(std::string_view text, size_t end) {
  if (end == 0) return 0;
  const char c = text[end - 1];
  if (c == '.' || c == '!' || c == '?') return 1;
  if (end >= kEllipsis.size() && text.substr(end - kEllipsis.size(), kEllipsis.size()) == kEllipsis)
    return kEllipsis.size();
  return 0;
}

// The offset before any closers that end at `end`.
size_t before_closers(std::string_view text, size_t end) {
  for (bool found = true; found;) {
    found = false;
    for (std::string_view closer : kClosers) {
      if (end >= closer.size() && text.substr(end - closer.size(), closer.size()) == closer) {
        end -= closer.size();
        found = true;
      }
    }
  }
  return end;
}

}  // namespace

size_t complete_sentences_end(std::string_view text) {
  for (size_t at = text.size(); at > 0; --at) {
    if (!is_space(text[at - 1])) continue;
    // `at - 1` is a space: a sentence ends before it if a mark (and closers) does.
    if (text[at - 1] == '\n' || mark_before(text, before_closers(text, at - 1)) > 0) return at;
  }
  return 0;
}
