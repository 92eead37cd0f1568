#include "text/telephone.h"

#include <vector>

#include "text/ascii.h"
#include "text/number-words.h"

namespace {

constexpr size_t kMaxGroups = 8;

// Digit groups split by `separator`; stops at the first byte that fits neither.
std::vector<std::string_view> groups_of(std::string_view s, char separator, size_t *length) {
  std::vector<std::string_view> groups;
  size_t i = 0;
  while (groups.size() < kMaxGroups) {
    const size_t digits = count_digits(s.substr(i));
    if (digits == 0) break;
    groups.push_back(s.substr(i, digits));
    i += digits;
    *length = i;
    if (i + 1 >= s.size() || s[i] != separator || !is_digit(s[i + 1])) break;
    ++i;
  }
  return groups;
}

void say_groups(const std::vector<std::string_view> &groups, Spoken &out) {
  for (size_t g = 0; g < groups.size(); ++g) {
    if (g > 0) out.mark(',');
    out.add(digit_words(groups[g]));
  }
}

// A local number on its own: "555-1234" or "123-4567".
bool is_local_number(std::string_view core) {
  return core.size() == 8 && count_digits(core) == 3 && core[3] == '-' &&
         count_digits(core.substr(4)) == 4;
}

}  // namespace

size_t read_digit_groups(std::string_view s, Spoken &out) {
  const bool plus = !s.empty() && s[0] == '+';
  const std::string_view digits = s.substr(plus ? 1 : 0);
  size_t length = 0;
  std::vector<std::string_view> groups = groups_of(digits, '-', &length);
  const bool hyphens = groups.size() >= 3 || (groups.size() == 2 && is_local_number(digits.substr(0, length)));
  if (!hyphens) {
    length = 0;
    groups = groups_of(digits, '.', &length);
    if (groups.size() != 3 || groups[2].size() != 4 || groups[1].size() != 3) return 0;
  }
  if (length < digits.size() && (is_letter(digits[length]) || is_digit(digits[length]))) return 0;
  out.add(plus ? "plus" : "");
  say_groups(groups, out);
  return length + (plus ? 1 : 0);
}

Taken read_telephone_phrase(const Cursor &cursor, Spoken &out) {
  const Chunk &chunk = cursor.chunk();
  const Chunk *next = cursor.peek(1);
  if (chunk.lead != "(" || chunk.trail != ")" || chunk.core.size() != 3 ||
      count_digits(chunk.core) != 3 || !next || !is_local_number(next->core)) {
    return {};
  }
  say_groups({chunk.core, next->core.substr(0, 3), next->core.substr(4)}, out);
  return {2, false};
}
