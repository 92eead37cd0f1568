// The three archive-inspection exports: thin C wrappers that let nothing throw
// across the boundary. They touch no engine state, so unlike the korva_
// functions they also work from inside a stream callback (without the lock).

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
  const EngineLock lock;
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
  const EngineLock lock;
  return static_cast<int>(handle->entries.size());
}

KORVA_API void manifest_close(Manifest *handle) {
  const EngineLock lock;
  delete handle;
}

}  // extern "C"
