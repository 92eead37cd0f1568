#pragma once
// Where the complete sentences of a text that is still arriving end, so that
// they can be spoken before the rest comes: after ".", "!", "?" or "…" (and
// any closing quotes or brackets) followed by white space, or at a line end.
// A guess, made without the library's reading of abbreviations: a cut after
// "Dr." only costs the pause between the two pieces.

#include <cstddef>
#include <string_view>

// The offset just past the last complete sentence of `text`, or 0 when none is.
size_t complete_sentences_end(std::string_view text);
