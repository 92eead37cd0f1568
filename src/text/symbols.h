#pragma once
// Symbols said as words: & @ + = # / % < > ~ and a lone degree sign.

#include <string_view>

#include "text/spoken.h"

// The symbol at the start of `s`: the bytes read (at least 1 when `s` is not
// empty; a symbol that is not said, such as "*", is skipped quietly).
size_t read_symbol(std::string_view s, Spoken &out);
