// SSML documents -> parts, or a refusal, from arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/ssml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string error;
  std::vector<std::string> warnings;
  parse_ssml(std::string_view(reinterpret_cast<const char *>(data), size), &error, &warnings);
  return 0;
}
