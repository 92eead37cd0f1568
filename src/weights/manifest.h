#pragma once
// Weights archive (PyTorch zip) and the table of tensors its manifest.json lists.

#include <torch/types.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "korva.h"
#include "log/log.h"

// One tensor of the archive: float32 values, contiguous, row-major.
struct ManifestEntry {
  std::string storage_key;      // record "data/<storage_key>"
  int32_t offset = 0;           // float32 elements into the record
  std::vector<int64_t> shape;   // outermost first
  std::vector<int64_t> stride;  // kept as read, never used
  int64_t numel = 0;            // checked against the record size
};

struct Manifest {
  std::string path;  // the archive is re-opened from here for every read
  std::unordered_map<std::string, ManifestEntry> entries;
};

// One storage record as read from the archive.
struct ArchiveRecord {
  at::DataPtr data;
  size_t size = 0;  // bytes
};

// Opens the archive and parses its manifest; nullptr on failure (reason on stderr).
// A scan that meets malformed text stops early and keeps the entries read so far.
Manifest *manifest_open_path(const std::string &path);

// The named tensor as a new float32 CPU tensor, or an undefined tensor when the
// name is absent or the entry cannot be read. Never throws.
torch::Tensor manifest_load_tensor(const Manifest &manifest, const std::string &name);

// "" when the entry's values lie inside a record of `record_bytes` bytes: sizes
// not negative and their product within int64, product <= numel, offset >= 0,
// offset + numel elements within the record. Otherwise the "[manifest] ..." line
// saying why, naming the tensor `name`; callers then read and allocate nothing.
std::string manifest_entry_problem(const ManifestEntry &entry, int64_t record_bytes,
                                   const std::string &name);

// The entry's values as a float32 tensor viewing `record` without a copy (the
// tensor keeps the record alive; never write through it), or an undefined
// tensor with manifest_entry_problem's line added to `log`.
torch::Tensor manifest_record_view(const ManifestEntry &entry,
                                   std::shared_ptr<const ArchiveRecord> record,
                                   const std::string &name, LogBuffer &log);

// An exception's text without libtorch's appended backtrace.
const char *exception_text(const std::exception &error);

// Substring-search readers of one member object of the manifest.
std::string json_string_field(const std::string &object, const std::string &key);
int64_t json_int_field(const std::string &object, const std::string &key);
std::vector<int64_t> json_int_array_field(const std::string &object, const std::string &key);
