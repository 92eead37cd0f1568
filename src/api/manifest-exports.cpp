// The three archive-inspection exports: thin C wrappers that let nothing throw
// across the boundary. They touch no voice, so unlike the korva_ functions they
// also work from inside a callback of another call.

#include <string>

#include "api/export-call.h"
#include "korva.h"
#include "log/log.h"
#include "weights/manifest.h"

extern "C" {

KORVA_API Manifest *manifest_open(const char *path) {
  return run_export<Manifest *>(
      nullptr,
      [&]() -> Manifest * {
        if (path == nullptr) {
          log_line(LogLevel::kError, "[manifest] Failed: no path given");
          note_error("No archive path given");
          return nullptr;
        }
        Manifest *manifest = manifest_open_path(path);
        // The opener has logged its reason in a "[manifest]" line.
        if (!manifest) note_error(("Cannot read the tensor table of " + std::string(path)).c_str());
        return manifest;
      },
      Nesting::kAllowed);
}

KORVA_API int manifest_count(Manifest *handle) {
  return run_export(
      -1,
      [&] {
        if (handle == nullptr) note_error("No manifest handle given");
        return handle ? static_cast<int>(handle->entries.size()) : -1;
      },
      Nesting::kAllowed);
}

KORVA_API void manifest_close(Manifest *handle) {
  run_void_export([&] { delete handle; }, Nesting::kAllowed);
}

}  // extern "C"
