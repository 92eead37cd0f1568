#pragma once
// Weights archive (PyTorch zip) and the table of tensors its manifest.json lists.

#include <torch/types.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "korva.h"

// One tensor of the archive: float32 values, contiguous, row-major.
struct ManifestEntry {
  std::string storage_key;     // record "data/<storage_key>"
  int32_t offset = 0;          // float32 elements into the record
  std::vector<int64_t> shape;  // outermost first
  std::vector<int64_t> stride; // kept as read, never used
  int64_t numel = 0;           // checked against the record size
};

struct Manifest {
  std::string path;  // the archive is re-opened from here for every read
  std::unordered_map<std::string, ManifestEntry> entries;
};

// Opens the archive and parses its manifest; nullptr on failure (reason on stderr).
Manifest *manifest_open_path(const std::string &path);

// The named tensor as a new float32 CPU tensor, or an undefined tensor when the
// name is absent or the entry cannot be read. Never throws.
torch::Tensor manifest_load_tensor(const Manifest &manifest, const std::string &name);

// Substring-search readers of one member object of the manifest.
std::string json_string_field(const std::string &object, const std::string &key);
int64_t json_int_field(const std::string &object, const std::string &key);
std::vector<int64_t> json_int_array_field(const std::string &object, const std::string &key);
