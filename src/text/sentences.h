#pragma once
// Where the sentences of a text end: after . ! ? (and closing quotes or
// brackets), but not after an abbreviation, an initial, a decimal point or an
// ellipsis that the sentence goes on after.

#include <cstddef>
#include <string_view>

// One piece of a text, by its bytes.
struct TextSpan {
  size_t offset = 0;
  size_t length = 0;
  size_t end() const { return offset + length; }
};

// The sentence that starts at or after `from` in `text`, without the white
// space around it; an empty span at text.size() when only white space is left.
// Every byte of the text outside white space lies in exactly one sentence.
TextSpan next_sentence(std::string_view text, size_t from);
