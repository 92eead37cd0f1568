#pragma once
// A fresh temporary working directory for tests of the "C:/tmp/..." dumps, which are
// relative paths on this platform: chdir into it, and back (removing it) on destruction.

#include <filesystem>
#include <string>
#include <vector>

class ScopedDumpDirectory {
 public:
  // with_dump_dir: whether to create "C:/tmp" inside, so that the dumps get written.
  explicit ScopedDumpDirectory(bool with_dump_dir);
  ~ScopedDumpDirectory();
  ScopedDumpDirectory(const ScopedDumpDirectory &) = delete;
  ScopedDumpDirectory &operator=(const ScopedDumpDirectory &) = delete;

  const std::filesystem::path &root() const { return root_; }
  // The float32 values of the dump "C:/tmp/<name>"; empty when it is missing.
  std::vector<float> read_floats(const std::string &name) const;

 private:
  std::filesystem::path saved_, root_;
};
