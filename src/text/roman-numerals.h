#pragma once
// Roman numerals after a name: "Henry VIII" -> "Henry the eighth", "World War
// II" -> "World War two", "Chapter IV" -> "Chapter four".

#include "text/reader.h"

// A numeral of I, V and X (2 to 39; "I" alone is the pronoun) right after a
// capitalised word. Larger letters are left to initialisms: "DC" and "CD" are
// far more often those.
Taken read_roman_numeral(const Cursor &cursor, Spoken &out);
