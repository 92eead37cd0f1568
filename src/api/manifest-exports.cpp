// The three archive-inspection exports: thin C wrappers that let nothing throw
// across the boundary.

#include <cstdio>

#include "api/engine-lock.h"
#include "korva.h"
#include "weights/manifest.h"

extern "C" {

KORVA_API Manifest *manifest_open(const char *path) {
  if (path == nullptr) {
    std::fprintf(stderr, "[manifest] Failed: no path given\n");
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(engine_mutex());
  try {
    return manifest_open_path(path);
  } catch (...) {
    // Only copying the path can throw here (allocation); the opener catches the rest.
    std::fprintf(stderr, "[manifest] Failed: out of memory\n");
    return nullptr;
  }
}

KORVA_API int manifest_count(Manifest *handle) {
  if (handle == nullptr) return -1;
  std::lock_guard<std::mutex> lock(engine_mutex());
  return static_cast<int>(handle->entries.size());
}

KORVA_API void manifest_close(Manifest *handle) {
  std::lock_guard<std::mutex> lock(engine_mutex());
  delete handle;
}

}  // extern "C"
