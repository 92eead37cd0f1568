#include "model/alignment.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

namespace {

torch::Tensor durations(std::vector<float> d) {
  return torch::tensor(d).reshape({1, 1, static_cast<int64_t>(d.size())});
}

TEST(GeneratePath, TokensOwnConsecutiveFramesInOrder) {
  auto attn = generate_path(durations({2, 1, 3}), torch::ones({1, 1, 3}));
  ASSERT_EQ(attn.sizes(), (std::vector<int64_t>{1, 3, 6}));
  auto expected = torch::tensor({1, 1, 0, 0, 0, 0,  //
                                 0, 0, 1, 0, 0, 0,  //
                                 0, 0, 0, 1, 1, 1},
                                torch::kFloat)
                      .reshape({1, 3, 6});
  EXPECT_TRUE(attn.equal(expected));
}

TEST(GeneratePath, ZeroDurationTokenOwnsNoFrame) {
  auto attn = generate_path(durations({1, 0, 2}), torch::ones({1, 1, 3}));
  EXPECT_EQ(attn[0][1].sum().item<float>(), 0.0f);
  EXPECT_TRUE(attn.sum(1).eq(1).all().item<bool>());
}

TEST(GeneratePath, AllZeroDurationsGiveOneEmptyFrame) {
  auto attn = generate_path(durations({0, 0}), torch::ones({1, 1, 2}));
  ASSERT_EQ(attn.size(2), 1);
  EXPECT_EQ(attn.sum().item<float>(), 0.0f);
}

TEST(GeneratePath, HugeOrNegativeDurationsStayDefined) {
  auto attn = generate_path(durations({-3, 1e30f, 2}), torch::ones({1, 1, 3}));
  // The sum defines the frame count; the huge token takes every frame it can.
  EXPECT_EQ(attn[0][0].sum().item<float>(), 0.0f);
  EXPECT_EQ(attn[0][2].sum().item<float>(), 0.0f);
  EXPECT_TRUE(attn[0][1].eq(1).all().item<bool>());
}

TEST(ExpandToFrames, EqualsTheProductWithThePath) {
  torch::manual_seed(5);
  const auto stats = torch::randn({1, 4, 4});
  const auto w_ceil = torch::tensor({2.0f, 0.0f, 3.0f, 1.0f}).view({1, 1, 4});
  const auto path = generate_path(w_ceil, torch::ones({1, 1, 4}));
  EXPECT_TRUE(expand_to_frames(stats, w_ceil, 6).equal(torch::bmm(stats, path)));

  // No token owns the one frame of an utterance whose durations are all 0.
  const auto none = torch::zeros({1, 1, 4});
  EXPECT_TRUE(expand_to_frames(stats, none, 1).equal(torch::zeros({1, 4, 1})));
}

}  // namespace
