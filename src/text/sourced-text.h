#pragma once
// Text on its way to the front-end, each byte knowing which bytes of the
// request's text it came from: markup and rewriting change the text, and word
// timings still point into what the caller wrote.

#include <string>
#include <string_view>
#include <vector>

#include "text/sentences.h"

struct SourcedText {
  std::string text;
  std::vector<TextSpan> origin;  // per byte of text: the request's bytes it stands for

  // Appends `part`, which stands for the request's bytes [offset, offset + part.size()).
  void append_verbatim(std::string_view part, size_t offset);
  // Appends `part`, every byte of which stands for all of `source`.
  void append_standing_for(std::string_view part, TextSpan source);
  // The bytes [span.offset, span.end()) with their origins.
  SourcedText slice(TextSpan span) const;
  // The request's bytes behind text bytes [span.offset, span.end()); empty span: none.
  TextSpan source_of(TextSpan span) const;
};
