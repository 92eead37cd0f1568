// IPA text -> framed ids, from arbitrary bytes (broken UTF-8 included).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "text/tokenizer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);  // cut at its first NUL
  int32_t ids[512];
  tokenize(text.c_str(), ids, 512);
  int count = 0;
  int32_t *all = tokenize_to_array(text.c_str(), &count);
  std::free(all);
  return 0;
}
