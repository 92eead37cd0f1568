// Test helper: reads every tensor of an archive through korva's reader and
// writes them out for the exporter's round-trip test.
//   manifest-dump ARCHIVE VALUES.f32
// Prints "name<TAB>size,size,..." per tensor in name order; VALUES.f32 gets their
// float32 values, concatenated in the same order. Exit status 1 when any read fails.

#include <cstdio>
#include <map>
#include <memory>

#include "weights/manifest.h"

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: manifest-dump ARCHIVE VALUES.f32\n");
    return 2;
  }
  std::unique_ptr<Manifest> manifest(manifest_open_path(argv[1]));
  if (!manifest) return 1;
  std::FILE *out = std::fopen(argv[2], "wb");
  if (!out) {
    std::perror(argv[2]);
    return 1;
  }
  const std::map<std::string, ManifestEntry> sorted(manifest->entries.begin(),
                                                    manifest->entries.end());
  int status = 0;
  for (const auto &entry : sorted) {
    const torch::Tensor t = manifest_load_tensor(*manifest, entry.first);
    if (!t.defined()) {
      status = 1;
      continue;
    }
    std::printf("%s\t", entry.first.c_str());
    for (int64_t d = 0; d < t.dim(); ++d)
      std::printf(d ? ",%ld" : "%ld", static_cast<long>(t.size(d)));
    std::printf("\n");
    if (std::fwrite(t.data_ptr<float>(), sizeof(float), t.numel(), out) !=
        static_cast<size_t>(t.numel()))
      status = 1;
  }
  if (std::fclose(out) != 0) status = 1;
  return status;
}
