#pragma once
// Small weights archives written at test time with libtorch's own zip writer.
// Header-only so that the api tests can use it without the weights test sources.

#include <caffe2/serialize/inline_container.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace test_archive {

// A tensor of a test archive: values stored row-major at the next free offset of its record.
struct Tensor {
  std::string name;
  std::vector<int64_t> shape;
  std::vector<float> values;
};

// A directory of this process's own under the test temp directory, removed
// with what the tests left in it when the process exits.
inline const std::string &temp_directory() {
  static const std::string *directory = [] {
    std::string pattern = testing::TempDir() + "korva-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make " + pattern);
    // Never destroyed, so that the exit handler still finds it.
    auto *made = new std::string(pattern);
    std::atexit([] { std::filesystem::remove_all(temp_directory()); });
    return made;
  }();
  return *directory;
}

// A file name in temp_directory(), unique to this test.
inline std::string temp_path(const std::string &file) {
  const auto *info = testing::UnitTest::GetInstance()->current_test_info();
  std::string test = info ? std::string(info->test_suite_name()) + "." + info->name() : "global";
  return temp_directory() + "/" + test + "-" + file;
}

inline std::string shape_json(const std::vector<int64_t> &sizes) {
  std::ostringstream text;
  text << '[';
  for (size_t i = 0; i < sizes.size(); ++i) text << (i ? ", " : "") << sizes[i];
  text << ']';
  return text.str();
}

inline std::string entry_json(const std::string &storage_key, int64_t offset,
                              const std::vector<int64_t> &shape, int64_t numel) {
  std::vector<int64_t> stride(shape.size(), 1);
  for (size_t i = shape.size(); i-- > 1;) stride[i - 1] = stride[i] * shape[i];
  std::ostringstream text;
  text << "{\"storage_key\": \"" << storage_key << "\", \"offset\": " << offset
       << ", \"shape\": " << shape_json(shape) << ", \"stride\": " << shape_json(stride)
       << ", \"numel\": " << numel << "}";
  return text.str();
}

// Writes the manifest text (under `manifest_name`, if not empty) and the records "data/<key>"
// verbatim.
inline void write_raw(const std::string &path, const std::string &manifest,
                      const std::map<std::string, std::vector<float>> &records,
                      const std::string &manifest_name = "manifest.json") {
  caffe2::serialize::PyTorchStreamWriter writer(path);
  if (!manifest_name.empty()) writer.writeRecord(manifest_name, manifest.data(), manifest.size());
  for (const auto &record : records) {
    writer.writeRecord("data/" + record.first, record.second.data(),
                       record.second.size() * sizeof(float));
  }
  writer.writeEndOfFile();
}

// Packs each group of tensors into one record (key = group index) at consecutive offsets.
inline void write(const std::string &path, const std::vector<std::vector<Tensor>> &groups) {
  std::map<std::string, std::vector<float>> records;
  std::string manifest = "{";
  for (size_t g = 0; g < groups.size(); ++g) {
    std::vector<float> &record = records[std::to_string(g)];
    for (const Tensor &tensor : groups[g]) {
      if (manifest.size() > 1) manifest += ",\n ";
      manifest += "\"" + tensor.name + "\": " +
                  entry_json(std::to_string(g), static_cast<int64_t>(record.size()), tensor.shape,
                             static_cast<int64_t>(tensor.values.size()));
      record.insert(record.end(), tensor.values.begin(), tensor.values.end());
    }
  }
  write_raw(path, manifest + "}", records);
}

// n values start, start + 1, ...: distinct, so a wrong offset shows.
inline std::vector<float> ramp(size_t n, float start) {
  std::vector<float> values(n);
  for (size_t i = 0; i < n; ++i) values[i] = start + static_cast<float>(i);
  return values;
}

}  // namespace test_archive
