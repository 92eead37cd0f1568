#include "input-text.h"

#include <cstdio>

#include "cli-error.h"

std::string input_text(const std::vector<std::string> &operands) {
  std::string text;
  if (!operands.empty()) {
    for (const std::string &word : operands) {
      if (!text.empty()) text += ' ';
      text += word;
    }
    return text;
  }
  char block[4096];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, stdin)) > 0) text.append(block, n);
  if (std::ferror(stdin)) throw CommandError("cannot read the text from standard input");
  // The library takes the text up to its first NUL: the rest would go unsaid.
  if (text.find('\0') != std::string::npos)
    throw CommandError("the text contains a NUL byte: what follows it would not be spoken");
  return text;
}
