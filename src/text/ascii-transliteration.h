#pragma once
// Unicode -> ASCII one code point at a time, as the public VITS text cleaners
// transliterate: letters lose their accents (Dvořák -> Dvorak, Zoë -> Zoe),
// ligatures and special letters are spelt out (æ -> ae, ß -> ss, þ -> th),
// typographic marks take their ASCII forms (“ ” -> ", — -> --, – -> -,
// … -> ...), other scripts their Latin spelling; what has none is dropped.

#include "text/sourced-text.h"

// `text` in ASCII, every byte standing for the code point it was spelt from.
SourcedText ascii_transliteration(const SourcedText &text);
