// Binding archive tensors to a module tree: key mapping, both passes, and every report line.

#include "weights/binder.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <cstdio>
#include <memory>

#include "module-tree.h"
#include "reference-fold.h"
#include "test-archive.h"
#include "weights/manifest.h"

namespace {

using test_archive::ramp;

struct BindResult {
  int loaded;
  std::string log;
};

class Binder : public testing::Test {
 protected:
  void write(const std::vector<std::vector<test_archive::Tensor>> &groups) {
    path_ = test_archive::temp_path("archive.pt");
    test_archive::write(path_, groups);
    open();
  }

  void write_raw(const std::string &manifest,
                 const std::map<std::string, std::vector<float>> &records) {
    path_ = test_archive::temp_path("archive.pt");
    test_archive::write_raw(path_, manifest, records);
    open();
  }

  BindResult bind(torch::nn::Module &model, KeyMap key_map = remap_checkpoint_key) {
    testing::internal::CaptureStderr();
    const int loaded = manifest_bind_parameters(*manifest_, model, std::move(key_map));
    return {loaded, testing::internal::GetCapturedStderr()};
  }

  static torch::Tensor param(torch::nn::Module &model, const std::string &name) {
    return model.named_parameters()[name];
  }

  std::string path_;
  std::unique_ptr<Manifest> manifest_;

 private:
  void open() {
    testing::internal::CaptureStderr();
    manifest_.reset(manifest_open_path(path_));
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(manifest_);
  }
};

TEST(RemapCheckpointKey, TranslatesThreeNetworks) {
  EXPECT_EQ(remap_checkpoint_key("enc_p.emb.weight"), "text_encoder.emb.weight");
  EXPECT_EQ(remap_checkpoint_key("dp.proj.bias"), "duration_predictor.proj.bias");
  EXPECT_EQ(remap_checkpoint_key("dec.conv_pre.weight"), "waveform_decoder.conv_pre.weight");
  EXPECT_EQ(remap_checkpoint_key("flow.flows.0.pre.weight"), "flow.flows.0.pre.weight");
  EXPECT_EQ(remap_checkpoint_key("enc_pre.x"), "enc_pre.x");
  EXPECT_EQ(remap_checkpoint_key("x.dec.y"), "x.dec.y");
}

TEST(FormatShape, ListsSizes) {
  EXPECT_EQ(format_shape({384, 192, 11}), "[384, 192, 11]");
  EXPECT_EQ(format_shape({}), "[]");
}

TEST_F(Binder, CopiesPlainAndFoldsWeightNormPairs) {
  // dec.conv_post has a plain weight and a pair: the plain one wins.
  write({{{"text_encoder.emb.weight", {2, 3}, ramp(6, 100)},
          {"duration_predictor.proj.bias", {2}, ramp(2, 200)},
          {"flow.flows.0.pre.weight", {1, 2, 1}, ramp(2, 300)}},
         {{"waveform_decoder.ups.0.weight_g", {2, 1, 1}, {10, 2}},
          {"waveform_decoder.ups.0.weight_v", {2, 1, 2}, {3, 4, 0, 5}},
          {"waveform_decoder.conv_post.weight", {1, 1, 2}, {7, 8}},
          {"waveform_decoder.conv_post.weight_g", {1, 1, 1}, {1}},
          {"waveform_decoder.conv_post.weight_v", {1, 1, 2}, {1, 1}}}});
  auto model = module_tree::make({{"enc_p.emb.weight", {2, 3}},
                                  {"dp.proj.bias", {2}},
                                  {"flow.flows.0.pre.weight", {1, 2, 1}},
                                  {"dec.ups.0.weight", {2, 1, 2}},
                                  {"dec.conv_post.weight", {1, 1, 2}}});
  const BindResult r = bind(*model);

  EXPECT_EQ(r.loaded, 5);
  EXPECT_EQ(
      r.log,
      "[manifest] SKIP: dec.ups.0.weight -> waveform_decoder.ups.0.weight\n"
      "[manifest] WN fold: waveform_decoder.ups.0.weight (from waveform_decoder.ups.0.weight_g + "
      "waveform_decoder.ups.0.weight_v)\n"
      "[manifest] Loaded 5, skipped 1\n");
  EXPECT_TRUE(
      torch::equal(param(*model, "enc_p.emb.weight"), torch::arange(100, 106.0f).reshape({2, 3})));
  EXPECT_TRUE(torch::equal(param(*model, "dp.proj.bias"), torch::tensor({200.0f, 201.0f})));
  EXPECT_TRUE(torch::equal(param(*model, "flow.flows.0.pre.weight"),
                           torch::tensor({300.0f, 301.0f}).reshape({1, 2, 1})));
  // Rows scaled to norms 10 and 2: [3, 4] -> [6, 8], [0, 5] -> [0, 2].
  EXPECT_TRUE(torch::allclose(param(*model, "dec.ups.0.weight"),
                              torch::tensor({6.0f, 8.0f, 0.0f, 2.0f}).reshape({2, 1, 2})));
  EXPECT_TRUE(torch::equal(param(*model, "dec.conv_post.weight"),
                           torch::tensor({7.0f, 8.0f}).reshape({1, 1, 2})));
  EXPECT_TRUE(param(*model, "dec.ups.0.weight").requires_grad())
      << "binding must not change the parameter";
}

TEST_F(Binder, FoldFromASharedRecordEqualsTheSingleTensorLoads) {
  // One record holds a plain tensor and both halves at odd offsets, so any
  // difference in reading or arithmetic shows bit for bit.
  torch::manual_seed(3);
  const auto values = [](std::vector<int64_t> shape) {
    const torch::Tensor t = torch::randn(shape);
    return std::vector<float>(t.data_ptr<float>(), t.data_ptr<float>() + t.numel());
  };
  write({{{"x.bias", {3}, values({3})},
          {"x.weight_g", {5, 1, 1}, values({5, 1, 1})},
          {"x.weight_v", {5, 7, 3}, values({5, 7, 3})},
          {"y.weight_v", {4, 2}, values({4, 2})},
          {"y.weight_g", {4, 1}, values({4, 1})}}});
  auto model = module_tree::make({{"x.weight", {5, 7, 3}}, {"x.bias", {3}}, {"y.weight", {4, 2}}});
  const BindResult r = bind(*model);
  EXPECT_EQ(r.loaded, 3) << r.log;
  EXPECT_TRUE(torch::equal(param(*model, "x.weight"), reference_fold(*manifest_, "x")));
  EXPECT_TRUE(torch::equal(param(*model, "y.weight"), reference_fold(*manifest_, "y")));
  EXPECT_TRUE(torch::equal(param(*model, "x.bias"), manifest_load_tensor(*manifest_, "x.bias")));
}

TEST_F(Binder, UnreadableHalfIsReportedAndBindingGoesOn) {
  write_raw(R"({"p.weight_g": {"storage_key": "9", "shape": [1, 1], "numel": 1},)"
            R"( "p.weight_v": {"storage_key": "0", "offset": 1, "shape": [1, 4], "numel": 4},)"
            R"( "b": {"storage_key": "0", "shape": [1], "numel": 1}})",
            {{"0", {5, 6, 7, 8}}});
  auto model = module_tree::make({{"p.weight", {1, 1}}, {"b", {1}}});
  const BindResult r = bind(*model);
  EXPECT_EQ(r.loaded, 1);
  const std::string skip = "[manifest] SKIP: p.weight -> p.weight\n";
  const std::string failed = "[manifest] Failed to load tensor p.weight_g: ";
  const std::string small = "[manifest] Data too small for p.weight_v\n";
  ASSERT_EQ(r.log.rfind(skip + failed, 0), 0u) << r.log;
  EXPECT_NE(r.log.find(small + "[manifest] Loaded 1, skipped 1\n"), std::string::npos) << r.log;
  EXPECT_EQ(param(*model, "b").item<float>(), 5.0f);
}

TEST_F(Binder, FailingFoldEndsTheBindingAfterThePlainCopies) {
  // g has three rows against v's two: the arithmetic throws.
  write({{{"a.weight_g", {3, 1}, {1, 2, 3}},
          {"a.weight_v", {2, 2}, {1, 1, 1, 1}},
          {"b.z", {1}, {4}}}});
  auto model = module_tree::make({{"a.weight", {2, 2}}, {"b.m", {1}}, {"b.z", {1}}});
  const BindResult r = bind(*model);
  EXPECT_EQ(r.loaded, -1);
  const std::string lines =
      "[manifest] SKIP: a.weight -> a.weight\n"
      "[manifest] SKIP: b.m -> b.m\n"
      "[manifest] Load failed: ";
  EXPECT_EQ(r.log.rfind(lines, 0), 0u) << r.log;
  EXPECT_EQ(param(*model, "b.z").item<float>(), 4.0f) << "plain copies all happen first";
  EXPECT_TRUE(torch::all(param(*model, "a.weight") == -1.0f).item<bool>());
}

TEST_F(Binder, WithoutMappingKeysAreModelNames) {
  write({{{"enc_p.emb.weight", {2}, {1, 2}}, {"text_encoder.emb.weight", {2}, {3, 4}}}});
  auto model = module_tree::make({{"enc_p.emb.weight", {2}}});
  const BindResult r = bind(*model, KeyMap());
  EXPECT_EQ(r.loaded, 1);
  EXPECT_TRUE(torch::equal(param(*model, "enc_p.emb.weight"), torch::tensor({1.0f, 2.0f})));
}

TEST_F(Binder, MismatchesAreReportedAndLeaveParametersUnchanged) {
  write({{{"a.rank", {4, 3}, ramp(12, 0)},
          {"a.size", {384, 192, 5}, std::vector<float>(384 * 192 * 5, 1.0f)},
          {"a.wn.weight_g", {2, 1, 1}, {1, 1}},
          {"a.wn.weight_v", {2, 1, 3}, ramp(6, 1)}}});
  auto model = module_tree::make(
      {{"a.rank", {4, 3, 1}}, {"a.size", {384, 192, 11}}, {"a.wn.weight", {2, 1, 2}}});
  const BindResult r = bind(*model);
  EXPECT_EQ(r.loaded, 0);
  EXPECT_EQ(r.log,
            "[manifest] Dim mismatch: a.rank ours=3 ckpt=2\n"
            "[manifest] Shape mismatch: a.size ours=[384, 192, 11] ckpt=[384,192,5,]\n"
            "[manifest] SKIP: a.wn.weight -> a.wn.weight\n"
            "[manifest] WN shape mismatch: a.wn.weight expected [2, 1, 2] got [2, 1, 3]\n"
            "[manifest] Loaded 0, skipped 3\n");
  for (const auto &p : model->named_parameters()) {
    EXPECT_TRUE(torch::all(p.value() == -1.0f).item<bool>()) << p.key();
  }
}

TEST_F(Binder, IncompletePairIsSilentAndMatchingNothingSkipsAll) {
  write({{{"a.weight_g", {1, 1, 1}, {1}}}});
  auto model = module_tree::make({{"a.weight", {1, 1, 1}}, {"b.bias", {1}}});
  const BindResult r = bind(*model);
  EXPECT_EQ(r.loaded, 0);
  EXPECT_EQ(r.log,
            "[manifest] SKIP: a.weight -> a.weight\n"
            "[manifest] SKIP: b.bias -> b.bias\n"
            "[manifest] Loaded 0, skipped 2\n");
}

TEST_F(Binder, ZeroDirectionRowFoldsToZero) {
  write({{{"c.weight_g", {2, 1, 1}, {3, 3}}, {"c.weight_v", {2, 1, 1}, {0, -2}}}});
  auto model = module_tree::make({{"c.weight", {2, 1, 1}}});
  EXPECT_EQ(bind(*model).loaded, 1);
  EXPECT_TRUE(
      torch::equal(param(*model, "c.weight"), torch::tensor({0.0f, -3.0f}).reshape({2, 1, 1})));
}

TEST_F(Binder, EntryPastItsRecordIsSkipped) {
  // The record holds 4 floats; "short" claims 6 from offset 2.
  write_raw(R"({"ok": {"storage_key": "0", "offset": 0, "shape": [2], "numel": 2},)"
            R"( "short": {"storage_key": "0", "offset": 2, "shape": [6], "numel": 6},)"
            R"( "lying": {"storage_key": "0", "offset": 0, "shape": [3], "numel": 1}})",
            {{"0", ramp(4, 1)}});
  auto model = module_tree::make({{"ok", {2}}, {"short", {6}}, {"lying", {3}}});
  const BindResult r = bind(*model);
  EXPECT_EQ(r.loaded, 1);
  EXPECT_EQ(r.log,
            "[manifest] Data too small for short\n"
            "[manifest] Data too small for lying\n"
            "[manifest] Loaded 1, skipped 2\n");
  EXPECT_TRUE(torch::all(param(*model, "short") == -1.0f).item<bool>());
}

TEST_F(Binder, ArchiveErrorsStopTheBinding) {
  write_raw(R"({"a": {"storage_key": "0", "shape": [1], "numel": 1},)"
            R"( "b": {"storage_key": "9", "shape": [1], "numel": 1}})",
            {{"0", {5}}});
  auto model = module_tree::make({{"a", {1}}, {"b", {1}}});
  BindResult r = bind(*model);
  EXPECT_EQ(r.loaded, -1);
  EXPECT_EQ(r.log.rfind("[manifest] Load failed: ", 0), 0u) << r.log;
  EXPECT_EQ(param(*model, "a").item<float>(), 5.0f)
      << "parameters filled before the error stay filled";

  auto fresh = module_tree::make({{"a", {1}}});
  std::remove(path_.c_str());
  r = bind(*fresh);
  EXPECT_EQ(r.loaded, -1);
  EXPECT_EQ(r.log.rfind("[manifest] Load failed: ", 0), 0u) << r.log;
  EXPECT_EQ(r.log.find("frame #"), std::string::npos) << r.log;
  EXPECT_EQ(param(*fresh, "a").item<float>(), -1.0f);
}

}  // namespace
