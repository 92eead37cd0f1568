#pragma once
// The public VITS text cleaning before phonemes: Unicode to ASCII, lower
// case, and its abbreviations written out ("mrs." -> "misess", "st." ->
// "saint" wherever one stands as a word before its period).

#include "text/sourced-text.h"

// `text` cleaned, every byte standing for the bytes of `text` it came from.
SourcedText english_cleaned(const SourcedText &text);

// The cleaning's abbreviations alone written out, in any case ("Mrs." ->
// "misess"), the rest of `text` as it is.
SourcedText english_abbreviations_written_out(const SourcedText &text);
