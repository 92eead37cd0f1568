#pragma once
// The text a command works on: its operands joined by single spaces, or all of
// standard input when there are none.

#include <string>
#include <vector>

// Throws CommandError when standard input cannot be read.
std::string input_text(const std::vector<std::string> &operands);
