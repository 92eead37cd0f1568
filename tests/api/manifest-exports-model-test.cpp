// manifest_open on the full-size golden archive lists every tensor of a voice.

#include <gtest/gtest.h>

#include <fstream>

#include "korva.h"

namespace {

TEST(ManifestExportsGolden, CountsEveryTensor) {
  if (!std::ifstream(KORVA_GOLDEN_ARCHIVE))
    GTEST_SKIP() << "no golden archive at " KORVA_GOLDEN_ARCHIVE;
  Manifest *m = manifest_open(KORVA_GOLDEN_ARCHIVE);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(manifest_count(m), 834);
  manifest_close(m);
}

}  // namespace
