#pragma once
// The normaliser's spoken form of a sourced text, each spoken word pointing at
// the written words it was read from: a word the normaliser left as it was
// points at itself; the words it made ("five dollars" of "$5") point at the
// written words between the neighbours that stayed.

#include "text/sourced-text.h"

// What a voice's own text pipeline reads itself, so that the normaliser
// leaves it as written.
struct ReadingStyle {
  // The pipeline reads punctuation (espeak-ng's front-ends): every mark and
  // its place reach it as written, where the normaliser would make a pause of
  // it or drop it. Numbers, symbols and abbreviations still become words.
  bool marks_as_written = false;
  // What the pipeline writes out itself before it reads (the public VITS
  // cleaning's abbreviations), done first, so that the normaliser reads it
  // as the pipeline would; null for nothing.
  SourcedText (*own_writing_out)(const SourcedText &text) = nullptr;
};

SourcedText spoken_form(const SourcedText &written, const ReadingStyle &style = {});
