// Channel layer norm: statistics per time step, over channels only.
#include "nn/layer-norm2.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <string>
#include <vector>

namespace {

TEST(LayerNorm2, NormalisesEachTimeStepOverChannels) {
  torch::NoGradGuard no_grad;
  torch::manual_seed(3);
  LayerNorm2 norm(192);
  // Each time step gets its own offset and spread, so normalising over time would fail.
  auto x = torch::randn({2, 192, 9}) * torch::linspace(0.5, 4, 9) + torch::arange(9);
  auto y = norm(x);
  ASSERT_EQ(y.sizes(), x.sizes());
  auto mean = y.mean(1);
  auto var = y.var(1, /*unbiased=*/false);
  EXPECT_LT(mean.abs().max().item<float>(), 1e-5);
  EXPECT_LT((var - 1).abs().max().item<float>(), 1e-4);
}

TEST(LayerNorm2, AppliesScaleAndShiftPerChannel) {
  torch::NoGradGuard no_grad;
  LayerNorm2 norm(4);
  auto x = torch::randn({1, 4, 5});
  auto plain = norm(x);
  norm->gamma.copy_(torch::tensor({1.f, 2.f, 3.f, 4.f}));
  norm->beta.copy_(torch::tensor({0.f, -1.f, 0.5f, 2.f}));
  auto expected = plain * norm->gamma.view({1, 4, 1}) + norm->beta.view({1, 4, 1});
  EXPECT_TRUE(torch::allclose(norm(x), expected, 1e-5, 1e-5));
}

TEST(LayerNorm2, ParameterOrder) {
  LayerNorm2 norm(192);
  auto params = norm->named_parameters();
  EXPECT_EQ(params.keys(), (std::vector<std::string>{"gamma", "beta"}));
  EXPECT_TRUE(torch::equal(norm->gamma, torch::ones({192})));
  EXPECT_TRUE(torch::equal(norm->beta, torch::zeros({192})));
}

}  // namespace
