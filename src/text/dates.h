#pragma once
// Dates, said the en-US way: "12/09/2026" and "2026-12-09" -> "December ninth,
// twenty twenty-six"; "Dec. 9" -> "December ninth"; "9 December 2026" -> "the
// ninth of December, twenty twenty-six"; month and weekday abbreviations.

#include <string_view>

#include "text/reader.h"

// A numeric date at the start of a core: month/day/year (day/month/year when
// the first part cannot be a month), year-month-day, day.month.year, or
// month/day (fractions such as "3/4" are to be read first). The bytes read, or 0.
size_t read_numeric_date(std::string_view s, Spoken &out);

// A date written with a month's name across chunks, or a month or weekday
// abbreviation on its own ("Dec." -> "December").
Taken read_named_date(const Cursor &cursor, Spoken &out);
