#include "text/sourced-text.h"

#include <algorithm>

void SourcedText::append_verbatim(std::string_view part, size_t offset) {
  text.append(part);
  for (size_t i = 0; i < part.size(); ++i) origin.push_back({offset + i, 1});
}

void SourcedText::append_standing_for(std::string_view part, TextSpan source) {
  text.append(part);
  origin.insert(origin.end(), part.size(), source);
}

SourcedText SourcedText::slice(TextSpan span) const {
  SourcedText out;
  out.text = text.substr(span.offset, span.length);
  const auto first = origin.begin() + static_cast<std::ptrdiff_t>(span.offset);
  out.origin.assign(first, first + static_cast<std::ptrdiff_t>(out.text.size()));
  return out;
}

TextSpan SourcedText::source_of(TextSpan span) const {
  if (span.length == 0 || span.end() > origin.size()) return {};
  size_t begin = origin[span.offset].offset;
  size_t end = origin[span.offset].end();
  for (size_t i = span.offset; i < span.end(); ++i) {
    begin = std::min(begin, origin[i].offset);
    end = std::max(end, origin[i].end());
  }
  return {begin, end - begin};
}
