// English text -> IPA through the lexicon and espeak-ng, from arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "text/phonemizer.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (phonemizer_init(nullptr) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  std::free(phonemize(text.c_str()));
  return 0;
}
