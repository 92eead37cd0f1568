#include "text/spoken-form.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "text/normalise.h"
#include "text/unicode-fold.h"
#include "text/word-marks.h"

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

// Letters and digits, lower-cased, accents folded as the normaliser folds
// them: what must agree for a word to have stayed ("café" stays as "cafe").
std::string key_of(const std::string &text, TextSpan word) {
  std::string_view letters = std::string_view(text).substr(word.offset, word.length);
  std::string folded;
  if (std::any_of(letters.begin(), letters.end(), [](char c) { return c & 0x80; })) {
    folded = fold_to_ascii(letters);
    letters = folded;
  }
  std::string key;
  for (const char c : letters) {
    if (std::isalnum(static_cast<unsigned char>(c)))
      key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return key;
}

// Each spoken word's written words [first, last).
using Sources = std::vector<std::pair<size_t, size_t>>;

// The key of each written word, made once: folding accents is not cheap.
std::vector<std::string> keys_of(const std::string &text, const std::vector<TextSpan> &words) {
  std::vector<std::string> keys;
  keys.reserve(words.size());
  for (const TextSpan &w : words) keys.push_back(key_of(text, w));
  return keys;
}

Sources sources_of(const std::vector<std::string> &written_keys, const std::string &spoken,
                   const std::vector<TextSpan> &spoken_words) {
  Sources source(spoken_words.size());
  size_t next = 0;     // first written word not yet matched
  size_t pending = 0;  // first spoken word not yet given a source
  const auto settle = [&](size_t upto, size_t first, size_t last) {
    // Spoken words with no match of their own stand for the written words
    // between the matches, or for the nearest written word if there are none.
    if (first == last) {
      if (last < written_keys.size()) {
        ++last;
      } else if (first > 0) {
        --first;
      }
    }
    for (; pending < upto; ++pending) source[pending] = {first, last};
  };
  for (size_t i = 0; i < spoken_words.size(); ++i) {
    const std::string key = key_of(spoken, spoken_words[i]);
    size_t match = written_keys.size();
    for (size_t j = next; !key.empty() && j < written_keys.size() && j < next + kLookahead; ++j) {
      if (written_keys[j] == key) {
        match = j;
        break;
      }
    }
    if (match == written_keys.size()) continue;
    settle(i, next, match);
    source[i] = {match, match + 1};
    pending = i + 1;
    next = match + 1;
  }
  settle(spoken_words.size(), next, written_keys.size());
  return source;
}

// The written bytes of written words [first, last).
TextSpan written_span(const std::vector<TextSpan> &words, size_t first, size_t last) {
  return {words[first].offset, words[last - 1].end() - words[first].offset};
}

// The spoken form as the normaliser wrote it, each word standing for its written words.
SourcedText normalised_form(const SourcedText &written, const std::vector<TextSpan> &written_words,
                            const std::string &spoken, const std::vector<TextSpan> &spoken_words,
                            const Sources &source) {
  SourcedText out;
  size_t at = 0;
  TextSpan from;
  for (size_t i = 0; i < spoken_words.size(); ++i) {
    const auto [first, last] = source[i];
    // The words read from one long written word (a number) share its source: found once.
    if (i == 0 || source[i] != source[i - 1])
      from = first < last ? written.source_of(written_span(written_words, first, last)) : TextSpan{};
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

// The spoken form with the written text's marks: written words the normaliser
// left alone (and marks it had nothing to say for) as written; the words it
// made between the written marks around what they read.
class MarkedForm {
 public:
  MarkedForm(const SourcedText &written, const std::vector<TextSpan> &written_words)
      : written_(written), words_(written_words) {}

  void add_made(const std::vector<std::string_view> &made, size_t first, size_t last) {
    add_written_before(first);
    const TextSpan from = written_.source_of(written_span(words_, std::min(first, words_.size() - 1),
                                                         std::max(last, first + 1)));
    if (first < next_ || last <= first) {  // words the normaliser put in between
      for (const std::string_view word : made) add(without_marks(word), from);
      return;
    }
    const TextSpan core_first = word_core(written_.text, words_[first]);
    const TextSpan core_last = word_core(written_.text, words_[last - 1]);
    std::string text(written_.text, words_[first].offset, core_first.offset - words_[first].offset);
    for (size_t k = 0; k < made.size(); ++k) {
      text += k + 1 < made.size() ? made[k] : without_marks(made[k]);
      if (k + 1 < made.size()) text += ' ';
    }
    std::string_view trail =
        std::string_view(written_.text).substr(core_last.end(), words_[last - 1].end() - core_last.end());
    // A period the normaliser read as an abbreviation's ("Dr.", "U.S.") is not a stop.
    if (!trail.empty() && trail[0] == '.' && (made.empty() || made.back().back() != '.'))
      trail.remove_prefix(1);
    add(text + std::string(trail), from);
    next_ = last;
  }

  void add_written_before(size_t end) {
    for (; next_ < std::min(end, words_.size()); ++next_) {
      if (!out_.text.empty()) out_.append_standing_for(" ", written_.source_of(words_[next_]));
      const SourcedText kept = written_.slice(words_[next_]);
      out_.text += kept.text;
      out_.origin.insert(out_.origin.end(), kept.origin.begin(), kept.origin.end());
    }
  }

  SourcedText take() {
    add_written_before(words_.size());
    return std::move(out_);
  }

 private:
  static std::string_view without_marks(std::string_view word) {
    while (!word.empty() && std::strchr(".,;:!?", word.back())) word.remove_suffix(1);
    return word;
  }

  void add(std::string_view text, TextSpan from) {
    if (text.empty()) return;
    if (!out_.text.empty()) out_.append_standing_for(" ", from);
    out_.append_standing_for(text, from);
  }

  const SourcedText &written_;
  const std::vector<TextSpan> &words_;
  SourcedText out_;
  size_t next_ = 0;  // the first written word not yet given out
};

// The parts of a written word between its dashes (— – --): "left—quickly" has two.
std::vector<TextSpan> dash_parts(const std::string &text, TextSpan word) {
  constexpr std::string_view kDashes[] = {"\xE2\x80\x94", "\xE2\x80\x93", "--"};
  std::vector<TextSpan> parts;
  size_t begin = word.offset;
  for (size_t at = word.offset; at < word.end();) {
    size_t dash = 0;
    for (const std::string_view d : kDashes)
      if (std::string_view(text).substr(at, d.size()) == d && at + d.size() <= word.end()) dash = d.size();
    if (dash == 0) {
      ++at;
      continue;
    }
    parts.push_back({begin, at - begin});
    at += dash;
    begin = at;
  }
  parts.push_back({begin, word.end() - begin});
  return parts;
}

// Whether spoken words [i, j) are the words of one written word joined by dashes,
// which the normaliser read with pauses: the pipeline reads such dashes itself.
bool dash_joined(const SourcedText &written, TextSpan word, const std::string &spoken,
                 const std::vector<TextSpan> &spoken_words, size_t i, size_t j) {
  const std::vector<TextSpan> parts = dash_parts(written.text, word);
  if (parts.size() < 2 || parts.size() != j - i) return false;
  for (size_t k = 0; k < parts.size(); ++k) {
    const std::string key = key_of(written.text, parts[k]);
    if (key.empty() || key != key_of(spoken, spoken_words[i + k])) return false;
  }
  return true;
}

SourcedText marked_form(const SourcedText &written, const std::vector<TextSpan> &written_words,
                        const std::vector<std::string> &written_keys, const std::string &spoken,
                        const std::vector<TextSpan> &spoken_words, const Sources &source) {
  MarkedForm out(written, written_words);
  for (size_t i = 0; i < spoken_words.size();) {
    size_t j = i + 1;
    while (j < spoken_words.size() && source[j] == source[i]) ++j;
    const auto [first, last] = source[i];
    const bool one = last == first + 1;
    const bool same =
        one && ((j == i + 1 && key_of(spoken, spoken_words[i]) == written_keys[first]) ||
                dash_joined(written, written_words[first], spoken, spoken_words, i, j));
    if (same) {
      out.add_written_before(last);
    } else {
      std::vector<std::string_view> made;
      for (size_t k = i; k < j; ++k)
        made.push_back(std::string_view(spoken).substr(spoken_words[k].offset, spoken_words[k].length));
      out.add_made(made, first, last);
    }
    i = j;
  }
  return out.take();
}

}  // namespace

SourcedText spoken_form(const SourcedText &given, const ReadingStyle &style) {
  const SourcedText written = style.own_writing_out ? style.own_writing_out(given) : given;
  const std::string spoken = normalise_text(written.text);
  const auto written_words = words_of(written.text);
  const auto spoken_words = words_of(spoken);
  const auto written_keys = keys_of(written.text, written_words);
  const Sources source = sources_of(written_keys, spoken, spoken_words);
  if (style.marks_as_written)
    return marked_form(written, written_words, written_keys, spoken, spoken_words, source);
  return normalised_form(written, written_words, spoken, spoken_words, source);
}
