// Loading single tensors: offsets, shapes, and every entry that must not be read.

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <cstdio>
#include <memory>

#include "test-archive.h"
#include "weights/manifest.h"

namespace {

class LoadTensor : public testing::Test {
 protected:
  // Record "0" holds 0, 1, ..., 15.
  void open(const std::string &manifest) {
    path_ = test_archive::temp_path("archive.pt");
    test_archive::write_raw(path_, manifest, {{"0", test_archive::ramp(16, 0)}});
    testing::internal::CaptureStderr();
    manifest_.reset(manifest_open_path(path_));
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(manifest_);
  }

  // Loads `name`; its stderr goes to log_.
  torch::Tensor load(const std::string &name) {
    testing::internal::CaptureStderr();
    torch::Tensor t = manifest_load_tensor(*manifest_, name);
    log_ = testing::internal::GetCapturedStderr();
    return t;
  }

  void expect_rejected(const std::string &name, const std::string &message) {
    EXPECT_FALSE(load(name).defined()) << name;
    EXPECT_EQ(log_, message) << name;
  }

  std::string path_;
  std::unique_ptr<Manifest> manifest_;
  std::string log_;
};

TEST_F(LoadTensor, OffsetCountsFloatsAndShapeIsKept) {
  open(R"({"t": {"storage_key": "0", "offset": 10, "shape": [2, 3], "numel": 6}})");
  const torch::Tensor t = load("t");
  ASSERT_TRUE(t.defined());
  EXPECT_EQ(t.sizes(), (std::vector<int64_t>{2, 3}));
  EXPECT_EQ(t.dtype(), torch::kFloat32);
  EXPECT_FALSE(t.requires_grad());
  EXPECT_TRUE(torch::equal(t, torch::arange(10, 16, torch::kFloat32).reshape({2, 3})));
  EXPECT_EQ(log_, "");
}

TEST_F(LoadTensor, EmptyShapeIsOneElement) {
  open(R"({"s": {"storage_key": "0", "offset": 15, "shape": [], "numel": 1}})");
  const torch::Tensor s = load("s");
  ASSERT_TRUE(s.defined());
  EXPECT_EQ(s.dim(), 0);
  EXPECT_EQ(s.item<float>(), 15.0f);
}

TEST_F(LoadTensor, AbsentNameIsSilent) {
  open("{}");
  expect_rejected("nothing", "");
}

TEST_F(LoadTensor, EntriesOutsideTheRecordAreRejected) {
  open(
      R"({"past_end": {"storage_key": "0", "offset": 12, "shape": [5], "numel": 5},)"
      R"( "product_over_numel": {"storage_key": "0", "offset": 0, "shape": [4, 4], "numel": 2},)"
      R"( "negative_start": {"storage_key": "0", "offset": -2, "shape": [2], "numel": 2},)"
      R"( "widest_start": {"storage_key": "0", "offset": 2147483647, "shape": [2], "numel": 2},)"
      R"( "huge_numel": {"storage_key": "0", "offset": 1, "shape": [2], "numel": 9223372036854775807},)"
      R"( "huge_product": {"storage_key": "0", "offset": 0, "shape": [4000000000, 2], "numel": 8000000000}})");
  for (const char *name : {"past_end", "product_over_numel", "negative_start", "widest_start",
                           "huge_numel", "huge_product"}) {
    expect_rejected(name, std::string("[manifest] Data too small for ") + name + "\n");
  }
}

TEST_F(LoadTensor, NegativeOrOverflowingSizesAreRejected) {
  open(R"({"negative": {"storage_key": "0", "shape": [-1], "numel": 1},)"
       R"( "overflow": {"storage_key": "0", "shape": [4000000000, 4000000000], "numel": 16},)"
       // No elements, but the strides of the other sizes still leave int64.
       R"( "empty_overflow": {"storage_key": "0", "shape": [2, 0, 4000000000, 4000000000], "numel": 16}})");
  for (const char *name : {"negative", "overflow", "empty_overflow"}) {
    expect_rejected(name, std::string("[manifest] Invalid shape for ") + name +
                              ": negative or overflowing size\n");
  }
}

TEST_F(LoadTensor, MissingRecordOrArchiveIsReported) {
  open(R"({"lost": {"storage_key": "7", "shape": [1], "numel": 1},)"
       R"( "t": {"storage_key": "0", "shape": [1], "numel": 1}})");
  EXPECT_FALSE(load("lost").defined());
  EXPECT_EQ(log_.rfind("[manifest] Failed to load tensor lost: ", 0), 0u) << log_;
  EXPECT_EQ(log_.find("frame #"), std::string::npos) << "backtrace in the message: " << log_;

  std::remove(path_.c_str());
  EXPECT_FALSE(load("t").defined());
  EXPECT_EQ(log_.rfind("[manifest] Failed to load tensor t: ", 0), 0u) << log_;
}

}  // namespace
