#include "weights/archive-record.h"

#include <caffe2/serialize/inline_container.h>

std::optional<std::string> read_archive_record(const std::string &path, const std::string &name) {
  caffe2::serialize::PyTorchStreamReader reader(path);
  if (!reader.hasRecord(name)) return std::nullopt;
  at::DataPtr data;
  size_t size = 0;
  std::tie(data, size) = reader.getRecord(name);
  return std::string(static_cast<const char *>(data.get()), size);
}
