// Inverse affine flow step.
#include "nn/elementwise-affine.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <string>
#include <vector>

namespace {

torch::Tensor mask_of_length(int64_t length, int64_t t) {
  return (torch::arange(t) < length).to(torch::kFloat).view({1, 1, t});
}

TEST(ElementwiseAffine, ZeroParametersOnlyMask) {
  torch::NoGradGuard no_grad;
  ElementwiseAffine affine(2);
  auto x = torch::randn({1, 2, 6});
  auto x_mask = mask_of_length(4, 6);
  EXPECT_TRUE(torch::equal(affine->reverse(x, x_mask), x * x_mask));
}

TEST(ElementwiseAffine, ReverseUndoesForwardInsideMask) {
  torch::NoGradGuard no_grad;
  ElementwiseAffine affine(2);
  affine->translation.copy_(torch::tensor({{0.5f}, {-1.5f}}));
  affine->log_scale.copy_(torch::tensor({{0.3f}, {-0.7f}}));
  auto x = torch::randn({1, 2, 6});
  auto x_mask = mask_of_length(4, 6);
  auto y = affine->translation + torch::exp(affine->log_scale) * x;
  auto back = affine->reverse(y, x_mask);
  EXPECT_TRUE(torch::allclose(back, x * x_mask, 1e-5, 1e-6));
  EXPECT_TRUE(torch::equal(back.slice(2, 4), torch::zeros({1, 2, 2})));
}

TEST(ElementwiseAffine, ParameterOrderAndShapes) {
  ElementwiseAffine affine(2);
  auto params = affine->named_parameters();
  EXPECT_EQ(params.keys(), (std::vector<std::string>{"translation", "log_scale"}));
  EXPECT_EQ(affine->log_scale.sizes(), (std::vector<int64_t>{2, 1}));
}

}  // namespace
