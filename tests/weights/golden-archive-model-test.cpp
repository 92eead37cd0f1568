// The full-size archive of the shared golden data opens with every tensor listed.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "weights/manifest.h"

namespace {

TEST(GoldenArchive, ListsEveryCheckpointTensor) {
  if (!std::ifstream(KORVA_GOLDEN_ARCHIVE))
    GTEST_SKIP() << "no golden archive at " KORVA_GOLDEN_ARCHIVE;
  std::unique_ptr<Manifest> m(manifest_open_path(KORVA_GOLDEN_ARCHIVE));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->entries.size(), 834u);

  const torch::Tensor g = manifest_load_tensor(*m, "waveform_decoder.ups.0.weight_g");
  ASSERT_TRUE(g.defined());
  EXPECT_EQ(g.sizes(), (std::vector<int64_t>{1024, 1, 1}));
  const torch::Tensor last = manifest_load_tensor(*m, "waveform_decoder.conv_post.weight");
  ASSERT_TRUE(last.defined());
  EXPECT_EQ(last.sizes(), (std::vector<int64_t>{1, 64, 7}));
}

}  // namespace
