#pragma once
// Abbreviations said in full: titles ("Dr." -> "doctor", "St." -> "Saint" or
// "Street" by what is around it), "e.g.", "i.e.", "etc.", "vs.", "No. 5",
// "approx." and the like.

#include "text/reader.h"

Taken read_abbreviation(const Cursor &cursor, Spoken &out);
