// Binding the full-size archive: every fold bit-identical to the fold done through
// manifest_load_tensor, every plain copy equal to its entry, the counts of the report.

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <fstream>
#include <memory>

#include "module-tree.h"
#include "reference-fold.h"
#include "weights/binder.h"
#include "weights/manifest.h"

namespace {

TEST(GoldenBind, FoldsAndCopiesMatchTheSingleTensorLoads) {
  if (!std::ifstream(KORVA_GOLDEN_ARCHIVE))
    GTEST_SKIP() << "no golden archive at " KORVA_GOLDEN_ARCHIVE;
  testing::internal::CaptureStderr();
  std::unique_ptr<Manifest> m(manifest_open_path(KORVA_GOLDEN_ARCHIVE));
  testing::internal::GetCapturedStderr();
  ASSERT_TRUE(m);
  auto model = module_tree::make(module_tree::for_archive(*m));

  testing::internal::CaptureStderr();
  const int loaded = manifest_bind_parameters(*m, *model, remap_checkpoint_key);
  const std::string log = testing::internal::GetCapturedStderr();
  const auto params = model->named_parameters();
  EXPECT_EQ(loaded, static_cast<int>(params.size()));
  EXPECT_NE(log.find("[manifest] Loaded 694, skipped 140\n"), std::string::npos) << log;

  int folds = 0;
  for (const auto &item : params) {
    const std::string key = remap_checkpoint_key(item.key());
    if (m->entries.count(key)) {
      EXPECT_TRUE(torch::equal(item.value(), manifest_load_tensor(*m, key))) << key;
      continue;
    }
    const torch::Tensor w = reference_fold(*m, key.substr(0, key.rfind(".weight")));
    EXPECT_TRUE(torch::equal(item.value(), w)) << key;
    ++folds;
  }
  EXPECT_EQ(folds, 140);
}

}  // namespace
