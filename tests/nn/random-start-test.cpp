// The random start of parameters an archive leaves out.

#include "nn/random-start.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

namespace {

// Two weights made in a load's scope, the first filled by the archive.
torch::Tensor unfilled_after_load() {
  DeferredRandomStart scope;
  torch::Tensor filled = random_start({3});
  torch::Tensor left = random_start({2, 4});
  {
    torch::NoGradGuard no_grad;
    filled.fill_(1.0f);
  }
  EXPECT_EQ(scope.draw_unfilled(), 1);
  EXPECT_TRUE(torch::equal(filled, torch::ones({3})));
  return left;
}

TEST(RandomStart, WhatNothingFilledIsDrawnAlikeEveryTimeAndTheHostsGeneratorIsLeftAlone) {
  torch::manual_seed(7);
  const torch::Tensor host_next = torch::randn({4});
  torch::manual_seed(7);
  const torch::Tensor first = unfilled_after_load();
  EXPECT_TRUE(torch::equal(torch::randn({4}), host_next));  // as if no load had drawn
  const torch::Tensor again = unfilled_after_load();
  EXPECT_TRUE(torch::equal(first, again));
  EXPECT_GT(first.abs().sum().item<float>(), 0.0f);
}

}  // namespace
