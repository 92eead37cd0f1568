#pragma once
// One chunk's core read on its own, piece by piece: numbers and the forms
// built on them, words, initialisms, symbols and inner punctuation.

#include <string_view>

#include "text/spoken.h"

void read_core(std::string_view core, Spoken &out);
