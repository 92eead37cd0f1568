#include "dump-directory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace fs = std::filesystem;

ScopedDumpDirectory::ScopedDumpDirectory(bool with_dump_dir) : saved_(fs::current_path()) {
  std::string pattern = (fs::temp_directory_path() / "korva-dumps-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    ADD_FAILURE() << "cannot create a temporary directory from " << pattern;
    return;
  }
  root_ = pattern;
  if (with_dump_dir) fs::create_directories(root_ / "C:" / "tmp");
  fs::current_path(root_);
}

ScopedDumpDirectory::~ScopedDumpDirectory() {
  if (root_.empty()) return;
  std::error_code ignored;
  fs::current_path(saved_, ignored);
  fs::remove_all(root_, ignored);
}

std::vector<float> ScopedDumpDirectory::read_floats(const std::string &name) const {
  const fs::path path = root_ / "C:" / "tmp" / name;
  std::error_code error;
  const auto bytes = fs::file_size(path, error);
  if (error) return {};
  std::vector<float> values(bytes / sizeof(float));
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return {};
  const size_t got = fread(values.data(), sizeof(float), values.size(), f);
  fclose(f);
  EXPECT_EQ(got, values.size()) << path;
  EXPECT_EQ(bytes % sizeof(float), 0u) << path;
  return values;
}
