#pragma once
// Clock times: "3:45pm" -> "three forty-five p m", "15:30" -> "fifteen thirty",
// "3:05" -> "three oh five", "3 p.m." -> "three p m".

#include <string_view>

#include "text/reader.h"

// A time at the start of a core ("3:45", "3:45:10pm", "11am"); the bytes read,
// or 0. A bare number is not a time.
size_t read_clock(std::string_view s, Spoken &out);

// A time whose "am"/"pm" is the next chunk ("3:45 PM", "3 p.m.", "3:45 p.m."),
// or a time that takes a whole chunk and ends in "a.m."/"p.m." with its period.
Taken read_time_phrase(const Cursor &cursor, Spoken &out);
