// Arbitrary bytes as a weights archive: opened, its CRCs read, every listed
// tensor loaded.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "weights/manifest.h"
#include "weights/zip-crc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = "/tmp/korva-archive-fuzz-" + std::to_string(getpid()) + ".pt";
  const std::string bytes(reinterpret_cast<const char *>(data), size);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  zip_record_crcs_of(bytes);
  std::unique_ptr<Manifest> manifest(manifest_open_path(path));
  if (manifest)
    for (const auto &entry : manifest->entries) manifest_load_tensor(*manifest, entry.first);
  manifest.reset();
  std::remove(path.c_str());
  return 0;
}
