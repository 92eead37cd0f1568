#pragma once
// The normaliser's spoken form of a sourced text, each spoken word pointing at
// the written words it was read from: a word the normaliser left as it was
// points at itself; the words it made ("five dollars" of "$5") point at the
// written words between the neighbours that stayed.

#include "text/sourced-text.h"

SourcedText spoken_form(const SourcedText &written);
