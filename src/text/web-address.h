#pragma once
// Web addresses and e-mail addresses: "https://www.example.com/docs" -> "w w w
// dot example dot com slash docs", "jane.doe@example.org" -> "jane dot doe at
// example dot org".

#include <string_view>

#include "text/spoken.h"

// Reads `core` when the whole of it is a web or e-mail address; returns
// whether it was one.
bool read_web_address(std::string_view core, Spoken &out);
