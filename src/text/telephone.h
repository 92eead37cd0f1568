#pragma once
// Telephone numbers and other digit groups, said digit by digit with a pause
// between groups: "555-123-4567", "+1-800-555-0199", "(555) 123-4567",
// "555.123.4567", ISBNs.

#include <string_view>

#include "text/reader.h"

// Digit groups at the start of a core: three or more joined by hyphens, an
// optional leading "+"; "555-1234"; or three groups joined by points, the last
// of four digits. The bytes read, or 0.
size_t read_digit_groups(std::string_view s, Spoken &out);

// "(555) 123-4567": an area code in brackets and the number in the next chunk.
Taken read_telephone_phrase(const Cursor &cursor, Spoken &out);
