#include "text/spoken.h"

namespace {

bool ends_sentence(char c) { return c == '.' || c == '!' || c == '?'; }

bool is_mark(char c) { return ends_sentence(c) || c == ',' || c == ';' || c == ':'; }

}  // namespace

void Spoken::add(std::string_view words) {
  if (words.empty()) return;
  if (!text_.empty()) text_ += ' ';
  text_.append(words.data(), words.size());
}

void Spoken::mark(char punctuation) {
  if (text_.empty()) return;
  char &last = text_.back();
  if (!is_mark(last)) {
    text_ += punctuation;
  } else if (ends_sentence(punctuation) && !ends_sentence(last)) {
    last = punctuation;
  }
}

bool Spoken::at_mark() const { return text_.empty() || is_mark(text_.back()); }

std::string Spoken::take() {
  if (!text_.empty() && is_mark(text_.back()) && !ends_sentence(text_.back())) text_.pop_back();
  return std::move(text_);
}
