// Duration predictor: the parameter tree the checkpoint binds by, which parameters the
// inference path really uses, determinism, and its diagnostics (log lines and dumps).
#include "nn/stochastic-duration-predictor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <torch/torch.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "dump-directory.h"
#include "nn/conv-flow.h"

namespace {

namespace fs = std::filesystem;
constexpr int64_t kT = 6;

// Fills every parameter from a fixed seed, so that all flows do visible work.
void randomise(torch::nn::Module &m, uint64_t seed) {
  torch::NoGradGuard no_grad;
  auto gen = at::detail::createCPUGenerator(seed);
  for (auto &p : m.parameters()) p.copy_(torch::randn(p.sizes(), gen) * 0.3);
}

struct Inputs {
  torch::Tensor x, x_mask;
};

// Batch of `batch`, the last two positions of item 0 padded.
Inputs make_inputs(int64_t batch = 1) {
  auto x = torch::randn({batch, 192, kT}, at::detail::createCPUGenerator(21));
  auto x_mask = torch::ones({batch, 1, kT});
  x_mask.index_put_({0, 0, torch::indexing::Slice(kT - 2)}, 0.0f);
  return {x, x_mask};
}

class SdpTest : public ::testing::Test {
 protected:
  void SetUp() override { randomise(*sdp, 1); }

  torch::Tensor run(uint64_t seed, float noise_scale = 0.66f, const Inputs &in = make_inputs()) {
    ::testing::internal::CaptureStderr();
    auto logw = sdp->forward(in.x, in.x_mask, noise_scale, at::detail::createCPUGenerator(seed));
    log = ::testing::internal::GetCapturedStderr();
    return logw;
  }

  torch::NoGradGuard no_grad;
  StochasticDurationPredictor sdp;
  std::string log;
};

TEST(SdpParameters, NamesShapesAndOrder) {
  StochasticDurationPredictor sdp;
  auto params = sdp->named_parameters();
  ASSERT_EQ(params.size(), 284u);
  EXPECT_EQ(params[0].key(), "pre.weight");
  EXPECT_EQ(params[params.size() - 1].key(), "post_flows.4.proj.bias");
  const std::vector<std::pair<std::string, std::vector<int64_t>>> shapes = {
      {"pre.weight", {192, 192, 1}},
      {"convs.convs_sep.0.weight", {192, 1, 3}},
      {"convs.convs_1x1.2.weight", {192, 192, 1}},
      {"convs.norms_2.2.beta", {192}},
      {"proj.bias", {192}},
      {"flows.0.translation", {2, 1}},
      {"flows.0.log_scale", {2, 1}},
      {"flows.1.pre.weight", {192, 1, 1}},
      {"flows.4.convs.norms_1.0.gamma", {192}},
      {"flows.4.proj.weight", {29, 192, 1}},
      {"post_pre.weight", {192, 1, 1}},
      {"post_proj.weight", {192, 192, 1}},
      {"post_flows.0.translation", {2, 1}},
  };
  for (const auto &[name, shape] : shapes) {
    ASSERT_TRUE(params.contains(name)) << name;
    EXPECT_EQ(params[name].sizes().vec(), shape) << name;
  }
  // DDS convolutions list by kind, then by layer.
  EXPECT_EQ(params[2].key(), "convs.convs_sep.0.weight");
  EXPECT_EQ(params[8].key(), "convs.convs_1x1.0.weight");
  EXPECT_EQ(params[14].key(), "convs.norms_1.0.gamma");
}

TEST(SdpParameters, SplineProjectionStartsAtZero) {
  ConvFlow flow(2, 192, 3, 3, 10);
  EXPECT_EQ(flow->proj->weight.abs().sum().item<float>(), 0.0f);
  EXPECT_EQ(flow->proj->bias.abs().sum().item<float>(), 0.0f);
}

TEST(SdpBlocks, DdsConvKeepsLengthAndGrowsDilation) {
  torch::NoGradGuard no_grad;
  DDSConv dds(192, 3, 3);
  for (int i = 0; i < 3; ++i) {
    const auto &opt = dds->convs_sep[i]->as<torch::nn::Conv1dImpl>()->options;
    const int64_t d = i == 0 ? 1 : i == 1 ? 3 : 9;
    EXPECT_EQ((*opt.dilation())[0], d);
  }
  auto x = torch::randn({1, 192, 11});
  auto mask = torch::ones({1, 1, 11});
  mask.index_put_({0, 0, torch::indexing::Slice(9)}, 0.0f);
  auto y = dds->forward(x, mask, x);
  EXPECT_EQ(y.sizes(), x.sizes());
  EXPECT_EQ(y.narrow(2, 9, 2).abs().sum().item<float>(), 0.0f);
}

TEST(SdpBlocks, ConvFlowTransformsOnlyTheSecondHalfInvertibly) {
  torch::NoGradGuard no_grad;
  ConvFlow flow(2, 192, 3, 3, 10);
  randomise(*flow, 4);
  auto x = torch::randn({1, 2, 9}) * 2;
  auto mask = torch::ones({1, 1, 9});
  auto g = torch::randn({1, 192, 9});
  auto y = flow->forward(x, mask, g, false);
  EXPECT_TRUE(torch::equal(y.select(1, 0), x.select(1, 0)));
  EXPECT_GT((y - x).abs().max().item<float>(), 1e-3);
  EXPECT_TRUE(torch::allclose(flow->forward(y, mask, g, true), x, 0, 1e-4));
}

TEST_F(SdpTest, MaskedPositionsGiveZeroLogw) {
  auto logw = run(3);
  EXPECT_EQ(logw.sizes(), (std::vector<int64_t>{1, 1, kT}));
  EXPECT_EQ(logw.index({0, 0, torch::indexing::Slice(kT - 2)}).abs().sum().item<float>(), 0.0f);
  EXPECT_NE(logw.index({0, 0, torch::indexing::Slice(0, kT - 2)}).abs().min().item<float>(), 0.0f);
}

TEST_F(SdpTest, SameSeedIsBitIdenticalAndZeroNoiseIgnoresTheSeed) {
  EXPECT_TRUE(torch::equal(run(5), run(5)));
  EXPECT_FALSE(torch::equal(run(5), run(6)));
  EXPECT_TRUE(torch::equal(run(5, 0.0f), run(6, 0.0f)));
}

TEST_F(SdpTest, UnusedFlowAndPostNetworksDoNotAffectLogw) {
  auto before = run(7);
  randomise(*sdp->flows[1], 99);
  randomise(*sdp->post_pre, 99);
  randomise(*sdp->post_convs, 99);
  randomise(*sdp->post_proj, 99);
  randomise(*sdp->post_flows, 99);
  EXPECT_TRUE(torch::equal(run(7), before));
  randomise(*sdp->flows[2], 99);  // a flow on the path does matter
  EXPECT_FALSE(torch::equal(run(7), before));
}

TEST_F(SdpTest, LogLinesHaveTheirExactFormat) {
  auto logw = run(2);
  using ::testing::MatchesRegex;
  std::vector<std::string> lines;
  for (size_t at = 0, nl; (nl = log.find('\n', at)) != std::string::npos; at = nl + 1) {
    lines.push_back(log.substr(at, nl - at));
  }
  ASSERT_EQ(lines.size(), 7u) << log;
  const std::string num = "-?[0-9]+\\.";
  EXPECT_THAT(lines[0], MatchesRegex("\\[sdp\\] h stats: min=" + num + "[0-9]{3} max=" + num +
                                     "[0-9]{3} mean=" + num + "[0-9]{3}"));
  EXPECT_THAT(lines[1], MatchesRegex("\\[sdp\\] noise init: min=" + num + "[0-9]{3} max=" + num +
                                     "[0-9]{3}"));
  EXPECT_EQ(lines[2], "[sdp] Saved noise [1,2,6] h [1,192,6]");
  const int flows[] = {4, 3, 2, 0};
  for (int s = 0; s < 4; ++s) {
    const std::string head = "[sdp] step" + std::to_string(s) + " flow[" +
                              std::to_string(flows[s]) + "]: [0,:,0]= ";
    EXPECT_EQ(lines[3 + s].rfind(head, 0), 0u) << lines[3 + s];
    EXPECT_THAT(lines[3 + s].substr(head.size()),
                MatchesRegex(num + "[0-9]{6} " + num + "[0-9]{6}"));
  }
  char first[32];
  snprintf(first, sizeof first, "%.6f ", logw[0][0][0].item<float>());
  EXPECT_NE(lines[6].find(std::string("= ") + first), std::string::npos) << lines[6];
}

TEST_F(SdpTest, WritesRawDumpsWhenTheDirectoryExists) {
  ScopedDumpDirectory dir(true);
  const Inputs in = make_inputs(2);
  auto logw = run(4, 0.66f, in);
  const size_t z_floats = 2 * 2 * kT;
  EXPECT_EQ(dir.read_floats("sdp_noise.bin").size(), z_floats);
  EXPECT_EQ(dir.read_floats("sdp_h.bin").size(), 2u * 192 * kT);
  std::vector<std::vector<float>> steps;
  for (int s = 0; s < 4; ++s) {
    steps.push_back(dir.read_floats("sdp_step" + std::to_string(s) + ".bin"));
    EXPECT_EQ(steps.back().size(), z_floats) << "step " << s;
  }
  // The last step is z after all flows: its first channel, masked, is logw.
  auto z = torch::from_blob(steps[3].data(), {2, 2, kT}, torch::kFloat).clone();
  EXPECT_TRUE(torch::equal(z.narrow(1, 0, 1) * in.x_mask, logw));
  // Overwritten, and identical, on a repeat with the same seed.
  run(4, 0.66f, in);
  for (int s = 0; s < 4; ++s) {
    EXPECT_EQ(dir.read_floats("sdp_step" + std::to_string(s) + ".bin"), steps[s]) << "step " << s;
  }
}

TEST_F(SdpTest, SkipsDumpsSilentlyWithoutTheDirectory) {
  torch::Tensor logw;
  {
    ScopedDumpDirectory dir(false);
    logw = run(4);
    EXPECT_TRUE(fs::is_empty(dir.root()));
  }
  EXPECT_NE(log.find("[sdp] Saved noise [1,2,6] h [1,192,6]\n"), std::string::npos);
  EXPECT_TRUE(torch::equal(run(4), logw));
}

}  // namespace
