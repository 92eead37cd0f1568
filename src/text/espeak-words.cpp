#include "text/espeak-words.h"

#include <algorithm>

#include "text/front-end.h"
#include "text/word-marks.h"

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
// The written words of `text`: runs between white space, without the marks
// at their ends (a run of marks alone stays a word).
std::vector<TextSpan> written_words(std::string_view text) {
  std::vector<TextSpan> words;
  for (size_t i = 0; i < text.size();) {
    if (is_space(text[i])) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < text.size() && !is_space(text[end])) ++end;
    words.push_back(word_core(text, {i, end - i}));
    i = end;
  }
  return words;
}

// Byte offset of character `character` of `text`.
size_t byte_of(std::string_view text, size_t character) {
  size_t i = 0;
  for (size_t c = 0; c < character && i < text.size(); ++c) i += utf8_length(text, i);
  return i;
}

}  // namespace

std::vector<std::string> spoken_words(std::string_view phonemes) {
  std::vector<std::string> words(1);
  for (const char c : phonemes) {
    if (is_space(c)) {
      if (!words.back().empty()) words.emplace_back();
    } else if (c != '_') {
      words.back() += c;
    }
  }
  if (words.back().empty()) words.pop_back();
  return words;
}

std::vector<TextSpan> spoken_word_spans(std::string_view text, const EspeakSpeech &speech,
                                        size_t n_words) {
  const std::vector<TextSpan> written = written_words(text);
  if (written.empty()) return std::vector<TextSpan>(n_words, TextSpan{0, text.size()});
  const TextSpan all{written.front().offset, written.back().end() - written.front().offset};
  if (speech.words.size() != n_words) return std::vector<TextSpan>(n_words, all);
  // The written word each spoken word starts at: the first that ends after its start.
  std::vector<size_t> first;
  for (const EspeakWord &word : speech.words) {
    const size_t at = byte_of(text, word.character);
    size_t w = 0;
    while (w + 1 < written.size() && written[w].end() <= at) ++w;
    first.push_back(std::max(w, first.empty() ? 0 : first.back()));
  }
  std::vector<TextSpan> spans;
  for (size_t k = 0; k < first.size(); ++k) {
    const size_t next = k + 1 < first.size() ? first[k + 1] : written.size();
    const size_t last = std::max(first[k], next == 0 ? 0 : next - 1);
    spans.push_back({written[first[k]].offset, written[last].end() - written[first[k]].offset});
  }
  return spans;
}
