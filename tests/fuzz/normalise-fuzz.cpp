// Written text -> spoken form, from arbitrary bytes (broken UTF-8 included).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/normalise.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  normalise_text(std::string_view(reinterpret_cast<const char *>(data), size));
  return 0;
}
