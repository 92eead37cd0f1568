// The manifest's three field readers: plain substring search over one member
// object, not a JSON parser (the archive writer emits one fixed layout).

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "weights/manifest.h"

namespace {

std::string quoted(const std::string &key) { return "\"" + key + "\""; }

// Base-10 conversion with leading white space and a sign, stopping at the
// first non-digit; the error texts are the ones the manifest contract names.
int64_t parse_int64(const std::string &text) {
  const char *begin = text.c_str();
  char *end = nullptr;
  errno = 0;
  const long long value = std::strtoll(begin, &end, 10);
  if (end == begin) throw std::invalid_argument("invalid stoll argument");
  if (errno == ERANGE) throw std::out_of_range("stoll argument out of range");
  return value;
}

}  // namespace

std::string json_string_field(const std::string &object, const std::string &key) {
  const size_t at = object.find(quoted(key));
  if (at == std::string::npos) return {};
  const size_t colon = object.find(':', at);
  if (colon == std::string::npos) return {};
  const size_t open = object.find('"', colon + 1);
  if (open == std::string::npos) return {};
  const size_t close = object.find('"', open + 1);
  if (close == std::string::npos) return object.substr(open + 1);
  return object.substr(open + 1, close - open - 1);
}

int64_t json_int_field(const std::string &object, const std::string &key) {
  const size_t at = object.find(quoted(key));
  if (at == std::string::npos) return 0;
  const size_t colon = object.find(':', at);
  if (colon == std::string::npos) return 0;
  const size_t start = object.find_first_not_of(" \t", colon + 1);
  return parse_int64(start == std::string::npos ? std::string() : object.substr(start));
}

std::vector<int64_t> json_int_array_field(const std::string &object, const std::string &key) {
  std::vector<int64_t> values;
  const size_t at = object.find(quoted(key));
  if (at == std::string::npos) return values;
  const size_t open = object.find('[', at);
  if (open == std::string::npos) return values;
  const size_t close = object.find(']', open);
  if (close == std::string::npos) return values;

  const std::string inner = object.substr(open + 1, close - open - 1);
  size_t piece_start = 0;
  while (piece_start <= inner.size()) {
    size_t comma = inner.find(',', piece_start);
    if (comma == std::string::npos) comma = inner.size();
    const std::string piece = inner.substr(piece_start, comma - piece_start);
    const size_t first = piece.find_first_of("0123456789-");
    if (first != std::string::npos) values.push_back(parse_int64(piece.substr(first)));
    piece_start = comma + 1;
  }
  return values;
}
