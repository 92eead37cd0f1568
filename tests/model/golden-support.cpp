#include <gtest/gtest.h>

#include "golden-support.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

const nlohmann::json &golden_cases() {
  static const nlohmann::json cases = [] {
    std::ifstream in(std::string(KORVA_GOLDEN_DIR) + "/cases.json");
    return in ? nlohmann::json::parse(in) : nlohmann::json();
  }();
  return cases;
}

bool golden_available(std::string *why) {
  if (golden_cases().is_null()) {
    *why = "golden data not found at " KORVA_GOLDEN_DIR " (shared test data absent)";
    return false;
  }
  if (!fs::exists(KORVA_GOLDEN_ARCHIVE)) {
    *why = "golden archive " KORVA_GOLDEN_ARCHIVE " missing (run the make_golden_archive test)";
    return false;
  }
  return true;
}

std::vector<float> read_floats(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> values(bytes.size() / sizeof(float));
  std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
  return values;
}

std::vector<std::string> inference_lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const bool korva = line.rfind("[korva] ", 0) == 0;
    if (!korva && line.rfind("[sdp] ", 0) != 0) continue;
    // Engine lines around inference are not part of the reference log.
    if (korva && line.find(" samples (") != std::string::npos) continue;
    lines.push_back(line);
  }
  return lines;
}

namespace {

const std::regex kNumber(R"(-?\d+(\.\d+)?)");

struct Parsed {
  std::string words;             // the line with every number replaced by '#'
  std::vector<double> values;
  std::vector<int> decimals;
};

Parsed parse(const std::string &line) {
  Parsed p;
  p.words = std::regex_replace(line, kNumber, "#");
  for (std::sregex_iterator it(line.begin(), line.end(), kNumber), end; it != end; ++it) {
    const std::string s = it->str();
    p.values.push_back(std::strtod(s.c_str(), nullptr));
    const auto dot = s.find('.');
    p.decimals.push_back(dot == std::string::npos ? 0 : static_cast<int>(s.size() - dot - 1));
  }
  return p;
}

}  // namespace

::testing::AssertionResult lines_match(const std::string &ours, const std::string &expected,
                                       double rel) {
  const Parsed a = parse(ours), b = parse(expected);
  if (a.words != b.words || a.values.size() != b.values.size())
    return ::testing::AssertionFailure() << "\n  ours:     " << ours << "\n  expected: " << expected;
  for (size_t i = 0; i < a.values.size(); ++i) {
    const double unit = std::pow(10.0, -b.decimals[i]);
    const double tolerance = unit + rel * std::max(1.0, std::fabs(b.values[i]));
    if (std::fabs(a.values[i] - b.values[i]) > tolerance)
      return ::testing::AssertionFailure()
             << "number " << i << " differs by " << std::fabs(a.values[i] - b.values[i])
             << "\n  ours:     " << ours << "\n  expected: " << expected;
  }
  return ::testing::AssertionSuccess();
}

DumpDirectory::DumpDirectory() {
  old_cwd_ = fs::current_path().string();
  char pattern[] = "/tmp/korva-dumps-XXXXXX";
  root_ = mkdtemp(pattern);
  fs::create_directories(fs::path(root_) / "C:" / "tmp");
  fs::current_path(root_);
}

DumpDirectory::~DumpDirectory() {
  fs::current_path(old_cwd_);
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string DumpDirectory::file(const std::string &name) const {
  return root_ + "/C:/tmp/" + name;
}
