#pragma once
// Units of measure written after a number ("5 km", "20°C", "100GB") and how
// they are said.

#include <string_view>

struct Unit {
  std::string_view symbol;  // exactly as written, case and all
  std::string_view one;     // after a count of one: "kilometer"
  std::string_view many;    // otherwise: "kilometers"
};

// The unit written `symbol`, or null.
const Unit *find_unit(std::string_view symbol);
