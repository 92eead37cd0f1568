// Opens a weights archive through libtorch's zip reader and scans manifest.json
// into the table of entries; single tensors are loaded from their records.

#include "weights/manifest.h"

#include <caffe2/serialize/inline_container.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "log/log.h"
#include "weights/zip-crc.h"

namespace {

constexpr const char *kManifestRecord = "manifest.json";
constexpr int64_t kFloatBytes = 4;

bool is_field_name(const std::string &key) {
  return key.find("storage_key") != std::string::npos || key.find("offset") != std::string::npos ||
         key.find("shape") != std::string::npos;
}

bool only_space(const std::string &text, size_t begin, size_t end) {
  for (size_t i = begin; i < end; ++i) {
    if (!std::isspace(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

// An offset wider than its field would wrap to another place in the record:
// refused, as a number too large for any field is.
int32_t offset_field(const std::string &object, const std::string &name) {
  const int64_t offset = json_int_field(object, "offset");
  if (offset < INT32_MIN || offset > INT32_MAX)
    throw std::out_of_range("offset " + std::to_string(offset) + " of " + name +
                            " does not fit in 32 bits");
  return static_cast<int32_t>(offset);
}

ManifestEntry read_entry(const std::string &object, const std::string &name) {
  ManifestEntry entry;
  entry.storage_key = json_string_field(object, "storage_key");
  entry.offset = offset_field(object, name);
  entry.shape = json_int_array_field(object, "shape");
  entry.stride = json_int_array_field(object, "stride");
  entry.numel = json_int_field(object, "numel");
  return entry;
}

// One forward pass: each quoted name followed (after white space only) by a
// brace-delimited object is a tensor entry; anything else is stepped over.
void scan_manifest(const std::string &json, Manifest &manifest) {
  size_t pos = 0;
  for (;;) {
    const size_t open_quote = json.find('"', pos);
    if (open_quote == std::string::npos) return;
    const size_t q = json.find('"', open_quote + 1);
    if (q == std::string::npos) return;
    const std::string key = json.substr(open_quote + 1, q - open_quote - 1);

    const size_t colon = json.find(':', q);
    if (colon == std::string::npos) return;
    const size_t open_brace = json.find('{', colon);
    if (open_brace == std::string::npos) return;
    if (!only_space(json, colon + 1, open_brace) || is_field_name(key)) {
      pos = q + 1;
      continue;
    }
    const size_t close_brace = json.find('}', open_brace);
    if (close_brace == std::string::npos) return;

    manifest.entries[key] = read_entry(json.substr(open_brace, close_brace - open_brace + 1), key);
    pos = close_brace + 1;
  }
}

// Product of the sizes, or -1 when a size is negative or the product of the
// non-zero sizes leaves int64: a tensor with no elements still has strides made of
// the other sizes, and libtorch takes a wrapped stride for a symbolic one.
int64_t element_count(const std::vector<int64_t> &shape) {
  int64_t nonzero_product = 1;
  bool empty = false;
  for (const int64_t size : shape) {
    if (size < 0) return -1;
    if (size == 0) {
      empty = true;
      continue;
    }
    if (nonzero_product > INT64_MAX / size) return -1;
    nonzero_product *= size;
  }
  return empty ? 0 : nonzero_product;
}

}  // namespace

const char *exception_text(const std::exception &error) {
  if (const auto *c10_error = dynamic_cast<const c10::Error *>(&error)) {
    return c10_error->what_without_backtrace();
  }
  return error.what();
}

std::string manifest_entry_problem(const ManifestEntry &entry, int64_t record_bytes,
                                   const std::string &name) {
  const int64_t count = element_count(entry.shape);
  if (count < 0) {
    return "[manifest] Invalid shape for " + name + ": negative or overflowing size";
  }
  // offset + numel <= record elements, written so that no term can overflow.
  const int64_t record_elements = record_bytes / kFloatBytes;
  if (count > entry.numel || entry.offset < 0 || entry.numel > record_elements - entry.offset) {
    return "[manifest] Data too small for " + name;
  }
  return "";
}

torch::Tensor manifest_record_view(const ManifestEntry &entry,
                                   std::shared_ptr<const ArchiveRecord> record,
                                   const std::string &name, LogBuffer &log) {
  const std::string problem =
      manifest_entry_problem(entry, static_cast<int64_t>(record->size), name);
  if (!problem.empty()) {
    log.add(LogLevel::kError, problem);
    return {};
  }
  // from_blob wants a mutable pointer; the view is only ever read.
  auto *first = static_cast<float *>(record->data.get()) + entry.offset;
  return torch::from_blob(
      first, entry.shape, [keep = std::move(record)](void *) {},
      torch::TensorOptions().dtype(torch::kFloat32));
}

Manifest *manifest_open_path(const std::string &path) {
  try {
    caffe2::serialize::PyTorchStreamReader reader(path);
    std::string record_name;
    for (const std::string &name : reader.getAllRecords()) {
      if (name.find(kManifestRecord) != std::string::npos) {
        record_name = name;
        break;
      }
    }
    if (record_name.empty()) {
      log_line(LogLevel::kError, "[manifest] No manifest.json in %s", path.c_str());
      return nullptr;
    }
    at::DataPtr data;
    size_t size = 0;
    std::tie(data, size) = reader.getRecord(record_name);
    verify_record_crc(zip_record_crcs(path), record_name, data.get(), size);
    const std::string json(static_cast<const char *>(data.get()), size);

    auto manifest = std::make_unique<Manifest>();
    manifest->path = path;
    scan_manifest(json, *manifest);
    log_line(LogLevel::kInfo, "[manifest] Loaded %zu tensor entries from %s",
             manifest->entries.size(), path.c_str());
    return manifest.release();
  } catch (const std::exception &error) {
    log_line(LogLevel::kError, "[manifest] Failed: %s", exception_text(error));
  } catch (...) {
    log_line(LogLevel::kError, "[manifest] Failed: unknown error");
  }
  return nullptr;
}

torch::Tensor manifest_load_tensor(const Manifest &manifest, const std::string &name) {
  const auto found = manifest.entries.find(name);
  if (found == manifest.entries.end()) return {};
  try {
    caffe2::serialize::PyTorchStreamReader reader(manifest.path);
    auto read = reader.getRecord("data/" + found->second.storage_key);
    auto record = std::make_shared<const ArchiveRecord>(
        ArchiveRecord{std::move(std::get<0>(read)), std::get<1>(read)});
    LogBuffer log;
    const torch::Tensor view = manifest_record_view(found->second, std::move(record), name, log);
    log.flush();
    return view.defined() ? view.clone() : view;
  } catch (const std::exception &error) {
    log_line(LogLevel::kError, "[manifest] Failed to load tensor %s: %s", name.c_str(),
             exception_text(error));
  } catch (...) {
    log_line(LogLevel::kError, "[manifest] Failed to load tensor %s: unknown error", name.c_str());
  }
  return {};
}
