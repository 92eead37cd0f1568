// Arbitrary bytes as the manifest of an otherwise sound archive (one record of
// 64 floats): scanned, and every entry it yields loaded.
#include <caffe2/serialize/inline_container.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "weights/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = "/tmp/korva-manifest-fuzz-" + std::to_string(getpid()) + ".pt";
  static const std::vector<float> record(64, 0.5f);
  {
    caffe2::serialize::PyTorchStreamWriter writer(path);
    writer.writeRecord("manifest.json", data, size);
    writer.writeRecord("data/0", record.data(), record.size() * sizeof(float));
    writer.writeEndOfFile();
  }
  std::unique_ptr<Manifest> manifest(manifest_open_path(path));
  if (manifest)
    for (const auto &entry : manifest->entries) manifest_load_tensor(*manifest, entry.first);
  manifest.reset();
  std::remove(path.c_str());
  return 0;
}
