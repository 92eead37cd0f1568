// The normaliser: the case file of written text and its spoken form, and
// arbitrary bytes.

#include "text/normalise.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

struct Case {
  int line;
  std::string written;
  std::string spoken;
};

std::vector<Case> load_cases() {
  std::ifstream in(KORVA_SOURCE_DIR "/tests/text/normalise-cases.tsv");
  std::vector<Case> cases;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    cases.push_back({number, line.substr(0, tab), tab == line.npos ? "" : line.substr(tab + 1)});
  }
  return cases;
}

TEST(NormaliseText, CaseFile) {
  const std::vector<Case> cases = load_cases();
  ASSERT_FALSE(cases.empty()) << "tests/text/normalise-cases.tsv is missing or empty";
  for (const Case &c : cases) {
    EXPECT_EQ(normalise_text(c.written), c.spoken) << "normalise-cases.tsv:" << c.line << ": " << c.written;
  }
}

}  // namespace
