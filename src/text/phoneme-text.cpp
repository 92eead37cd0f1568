#include "text/phoneme-text.h"

#include <cstdio>

#include "text/front-end.h"
#include "text/log-echo.h"

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

}  // namespace

void DroppedSymbols::drop(const std::string &symbol) {
  if (reported_.insert(symbol).second)
    std::fprintf(stderr, "[frontend] WARN: symbol '%s' is not in the voice's table, dropped\n",
                 log_echo(symbol.c_str()).c_str());
}

void PhonemeText::append(std::string_view phonemes, std::optional<TextSpan> word) {
  int index = -1;
  if (word) {
    const bool same = !words_.empty() && words_.back().offset == word->offset &&
                      words_.back().length == word->length;
    if (!same) words_.push_back(*word);
    index = static_cast<int>(words_.size()) - 1;
  }
  text_.append(phonemes);
  word_of_.insert(word_of_.end(), phonemes.size(), index);
}

PhonemeText PhonemeText::whitespace_collapsed() const {
  PhonemeText out;
  out.words_ = words_;
  for (size_t i = 0; i < text_.size(); ++i) {
    if (is_space(text_[i])) {
      if (i > 0 && is_space(text_[i - 1])) continue;
      out.text_ += ' ';
    } else {
      out.text_ += text_[i];
    }
    out.word_of_.push_back(word_of_[i]);
  }
  return out;
}

Utterance PhonemeText::utterance(const FrontEndTable &table, DroppedSymbols &dropped) const {
  Utterance u;
  u.phonemes = text_;
  std::vector<int32_t> symbol_ids;
  for (size_t i = 0; i < text_.size();) {
    const size_t n = utf8_length(text_, i);
    const std::string symbol = text_.substr(i, n);
    const int word = word_of_[i];
    i += n;
    const auto found = table.symbols.find(symbol);
    if (found == table.symbols.end()) {
      dropped.drop(symbol);
      continue;
    }
    const size_t k = symbol_ids.size();
    symbol_ids.push_back(found->second);
    u.symbols.push_back(symbol);
    if (word < 0) continue;
    const TextSpan &span = words_[static_cast<size_t>(word)];
    if (u.words.empty() || u.words.back().offset != span.offset)
      u.words.push_back({span.offset, span.length, k, 0});
    u.words.back().n_symbols = k + 1 - u.words.back().first_symbol;
  }
  u.ids = frame_symbols(symbol_ids, table);
  u.first_symbol_id = (table.start ? 1 : 0) + (table.blank ? 1 : 0);
  u.ids_per_symbol = table.blank ? 2 : 1;
  return u;
}
