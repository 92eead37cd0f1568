#pragma once
// Which words of a text each word of espeak-ng's speech says. espeak-ng joins
// some words in speech ("in the" is one spoken word) and reads one written
// word as several ("1066"); the events of its synthesis say where each spoken
// word starts in the text.

#include <string>
#include <string_view>
#include <vector>

#include "text/espeak-ng.h"
#include "text/sentences.h"

// The spoken words of a phoneme string: its runs between spaces, with the
// trace's phoneme separators removed.
std::vector<std::string> spoken_words(std::string_view phonemes);

// The bytes of `text` each of `n_words` spoken words says: from the written
// word it starts at to the written word before the next spoken word's. When
// the speech's events do not count `n_words` words, every spoken word says
// all of the text's words.
std::vector<TextSpan> spoken_word_spans(std::string_view text, const EspeakSpeech &speech,
                                        size_t n_words);
