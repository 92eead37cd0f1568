#pragma once
// Golden cases of the shared test data: loading them, and comparing our
// diagnostic lines and dumps with the reference outputs.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// cases.json, or a null json when the shared data is absent.
const nlohmann::json &golden_cases();

// True when the golden archive and cases exist; otherwise the reason in *why.
bool golden_available(std::string *why);

std::vector<float> read_floats(const std::string &path);

// Lines of `text` that start with "[korva]" or "[sdp]" and belong to inference.
std::vector<std::string> inference_lines(const std::string &text);

// Compares two diagnostic lines: the same words, and every number within one
// unit of its last printed digit plus `rel` × max(1, |expected|).
::testing::AssertionResult lines_match(const std::string &ours, const std::string &expected,
                                       double rel);

// Chdir into a fresh temporary directory holding "C:/tmp" for the dumps, and
// back on destruction.
class DumpDirectory {
 public:
  DumpDirectory();
  ~DumpDirectory();
  std::string file(const std::string &name) const;  // path of C:/tmp/<name>

 private:
  std::string old_cwd_, root_;
};
