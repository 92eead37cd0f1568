#include "text/utterances.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "text/tokenizer.h"

namespace {

bool is_clause_mark(const PhonemeItem &item) {
  return !item.word && item.phonemes.size() == 1 && std::strchr(",;:.!?", item.phonemes[0]);
}

// Symbols of an item, with the space that joins it to the one before.
size_t symbols_with_join(const PhonemeItem &item) {
  return token_symbols(item.phonemes).size() + 1;
}

Utterance utterance_of(std::vector<PhonemeItem>::const_iterator first,
                       std::vector<PhonemeItem>::const_iterator last) {
  Utterance u;
  std::vector<size_t> item_begin;  // byte of each item in the joined phonemes
  for (auto item = first; item != last; ++item) {
    if (!u.phonemes.empty() && u.phonemes.back() != ' ') u.phonemes += ' ';
    item_begin.push_back(u.phonemes.size());
    u.phonemes += item->phonemes;
  }
  const auto symbols = token_symbols(u.phonemes);
  // Each symbol belongs to the last item starting at or before it.
  size_t item = 0;
  for (size_t k = 0; k < symbols.size(); ++k) {
    const size_t at = static_cast<size_t>(symbols[k].data() - u.phonemes.data());
    while (item + 1 < item_begin.size() && item_begin[item + 1] <= at) ++item;
    u.symbols.emplace_back(symbols[k]);
    const PhonemeItem &source = first[static_cast<std::ptrdiff_t>(item)];
    const bool inside = at < item_begin[item] + source.phonemes.size();
    if (!source.word || !inside || symbols[k] == " ") continue;
    if (u.words.empty() || u.words.back().offset != source.offset) {
      u.words.push_back({source.offset, source.length, k, 0});
    }
    u.words.back().n_symbols = k + 1 - u.words.back().first_symbol;
  }
  u.ids.resize(static_cast<size_t>(kMaxTokens));
  u.ids.resize(static_cast<size_t>(tokenize_quietly(u.phonemes.c_str(), u.ids.data(), kMaxTokens)));
  return u;
}

}  // namespace

size_t max_utterance_symbols() { return (static_cast<size_t>(kMaxTokens) - 3) / 2; }

std::vector<Utterance> utterances_of(const std::vector<PhonemeItem> &items) {
  std::vector<Utterance> out;
  if (items.empty()) out.push_back(utterance_of(items.begin(), items.end()));
  auto first = items.begin();
  while (first != items.end()) {
    // Take items while they fit; remember the last clause mark taken.
    size_t symbols = 0;
    auto last = first;
    auto after_clause = items.end();
    while (last != items.end()) {
      const size_t more = symbols_with_join(*last);
      if (last != first && symbols + more > max_utterance_symbols()) break;
      symbols += more;
      if (is_clause_mark(*last)) after_clause = last + 1;
      ++last;
    }
    if (last != items.end() && after_clause != items.end()) last = after_clause;
    out.push_back(utterance_of(first, last));
    first = last;
  }
  return out;
}
