#include "text/chunks.h"

#include <cstring>

#include "text/ascii.h"

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Markdown emphasis marks are taken as brackets too.
bool opens(char c) { return c && std::strchr("([{\"'*_", c) != nullptr; }

bool closes(char c) { return c && std::strchr(")]}\"'*_.,;:!?", c) != nullptr; }

Chunk make_chunk(std::string_view text, bool new_paragraph) {
  size_t begin = 0;
  // "'90s" keeps its apostrophe: it stands for the century.
  while (begin < text.size() && opens(text[begin]) &&
         !(text[begin] == '\'' && begin + 1 < text.size() && is_digit(text[begin + 1]))) {
    ++begin;
  }
  size_t end = text.size();
  while (end > begin && closes(text[end - 1])) --end;
  return {text.substr(0, begin), text.substr(begin, end - begin), text.substr(end), new_paragraph};
}

}  // namespace

std::vector<Chunk> split_chunks(std::string_view text) {
  std::vector<Chunk> chunks;
  chunks.reserve(text.size() / 4);  // a little more than one a word
  size_t i = 0;
  while (i < text.size()) {
    int line_breaks = 0;
    while (i < text.size() && is_space(text[i])) line_breaks += text[i++] == '\n';
    if (i == text.size()) break;
    const size_t start = i;
    while (i < text.size() && !is_space(text[i])) ++i;
    chunks.push_back(make_chunk(text.substr(start, i - start), line_breaks > 1));
  }
  return chunks;
}

bool starts_upper(const Chunk &chunk) {
  return !chunk.core.empty() && is_upper(chunk.core[0]);
}
