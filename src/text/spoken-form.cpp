#include "text/spoken-form.h"

#include <cctype>
#include <string>
#include <vector>

#include "text/normalise.h"

namespace {

// How far ahead a spoken word looks for the written word it equals.
constexpr size_t kLookahead = 4;

// The white-space separated words of `text`.
std::vector<TextSpan> words_of(const std::string &text) {
  std::vector<TextSpan> words;
  for (size_t at = 0; at < text.size();) {
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    const size_t begin = at;
    while (at < text.size() && !std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    if (at > begin) words.push_back({begin, at - begin});
  }
  return words;
}

// Letters and digits, lower-cased: what must agree for a word to have stayed.
std::string key_of(const std::string &text, TextSpan word) {
  std::string key;
  for (size_t i = word.offset; i < word.end(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (std::isalnum(c)) key += static_cast<char>(std::tolower(c));
  }
  return key;
}

}  // namespace

SourcedText spoken_form(const SourcedText &written) {
  const std::string spoken = normalise_text(written.text);
  const auto written_words = words_of(written.text);
  const auto spoken_words = words_of(spoken);
  std::vector<std::string> written_keys;
  for (const TextSpan &w : written_words) written_keys.push_back(key_of(written.text, w));

  // Each spoken word's written words [first, last).
  std::vector<std::pair<size_t, size_t>> source(spoken_words.size());
  size_t next = 0;     // first written word not yet matched
  size_t pending = 0;  // first spoken word not yet given a source
  const auto settle = [&](size_t upto, size_t first, size_t last) {
    // Spoken words with no match of their own stand for the written words
    // between the matches, or for the nearest written word if there are none.
    if (first == last) {
      if (last < written_words.size()) {
        ++last;
      } else if (first > 0) {
        --first;
      }
    }
    for (; pending < upto; ++pending) source[pending] = {first, last};
  };
  for (size_t i = 0; i < spoken_words.size(); ++i) {
    const std::string key = key_of(spoken, spoken_words[i]);
    size_t match = written_words.size();
    for (size_t j = next; !key.empty() && j < written_words.size() && j < next + kLookahead; ++j) {
      if (written_keys[j] == key) {
        match = j;
        break;
      }
    }
    if (match == written_words.size()) continue;
    settle(i, next, match);
    source[i] = {match, match + 1};
    pending = i + 1;
    next = match + 1;
  }
  settle(spoken_words.size(), next, written_words.size());

  SourcedText out;
  size_t at = 0;
  for (size_t i = 0; i < spoken_words.size(); ++i) {
    const auto [first, last] = source[i];
    const TextSpan from =
        first < last
            ? written.source_of({written_words[first].offset,
                                 written_words[last - 1].end() - written_words[first].offset})
            : TextSpan{};
    const std::string_view word =
        std::string_view(spoken).substr(spoken_words[i].offset, spoken_words[i].length);
    // The space before a word goes with it.
    out.append_standing_for(std::string_view(spoken).substr(at, spoken_words[i].offset - at), from);
    const TextSpan same = first + 1 == last ? written_words[first] : TextSpan{};
    if (same.length > 0 &&
        std::string_view(written.text).substr(same.offset, same.length) == word) {
      // Left as written: byte for byte, so that "there" of "there." is only "there".
      const SourcedText kept = written.slice(same);
      out.text += kept.text;
      out.origin.insert(out.origin.end(), kept.origin.begin(), kept.origin.end());
    } else {
      out.append_standing_for(word, from);
    }
    at = spoken_words[i].end();
  }
  return out;
}
