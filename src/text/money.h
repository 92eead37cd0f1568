#pragma once
// Amounts of money: "$5.50" -> "five dollars and fifty cents", "€1.2M" -> "one
// point two million euros", "£3" -> "three pounds", "¥500", "5€", "$5-10",
// "$5 million".

#include <string_view>

#include "text/reader.h"

// An amount at the start of a core (sign, currency symbol, number, range,
// scale suffix; or a number with the symbol after it). The bytes read, or 0.
size_t read_money(std::string_view s, bool signed_ok, Spoken &out);

// An amount that takes a whole chunk followed by a scale word ("$5 million").
Taken read_money_phrase(const Cursor &cursor, Spoken &out);
