#include "nn/wavenet.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <cmath>

#include "nn/wn-conv.h"

namespace {

TEST(WaveNet, SingleLayerHasOnlyASkipOutputOfHiddenWidth) {
  torch::NoGradGuard no_grad;
  WaveNet net(16, 3, 1, 1);
  ASSERT_EQ(net->res_skip_layers->size(), 1u);
  EXPECT_EQ(net->res_skip_layers->ptr<WNConv1dImpl>(0)->weight.sizes().vec(),
            (std::vector<int64_t>{16, 16, 1}));
  EXPECT_EQ(net->forward(torch::randn({1, 16, 5}), torch::ones({1, 1, 5})).sizes().vec(),
            (std::vector<int64_t>{1, 16, 5}));
}

TEST(WaveNet, DilationGrowsPerLayerAndKeepsTheLength) {
  torch::NoGradGuard no_grad;
  WaveNet net(8, 11, 2, 4);
  for (int i = 0; i < 4; ++i) {
    auto conv = net->in_layers->ptr<WNConv1dImpl>(i);
    EXPECT_EQ(conv->dilation, 1 << i);
    EXPECT_EQ(conv->padding, 5 << i);
  }
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(net->res_skip_layers->ptr<WNConv1dImpl>(i)->out_channels, 16);
  }
  EXPECT_EQ(net->res_skip_layers->ptr<WNConv1dImpl>(3)->out_channels, 8);

  const auto y = net->forward(torch::randn({1, 8, 50}), torch::ones({1, 1, 50}));
  EXPECT_EQ(y.sizes().vec(), (std::vector<int64_t>{1, 8, 50}));
}

TEST(WaveNet, OutputIsZeroBeyondTheMask) {
  torch::NoGradGuard no_grad;
  WaveNet net(8, 5, 1, 3);
  auto mask = torch::ones({1, 1, 12});
  mask.narrow(2, 7, 5).zero_();
  const auto y = net->forward(torch::randn({1, 8, 12}), mask);
  EXPECT_EQ(y.narrow(2, 7, 5).abs().max().item<float>(), 0.0f);
  EXPECT_GT(y.narrow(2, 0, 7).abs().max().item<float>(), 0.0f);
}

TEST(WaveNet, Bfloat16StaysFortyDecibelsFromFloat32AndSwitchesBackExactly) {
  torch::NoGradGuard no_grad;
  torch::manual_seed(3);
  WaveNet net(64, 5, 1, 4, 16);
  for (auto &p : net->parameters()) p.normal_(0.0, 0.05);
  const auto x = torch::randn({1, 64, 40});
  const auto g = torch::randn({1, 16, 1});
  auto mask = torch::ones({1, 1, 40});
  mask.narrow(2, 30, 10).zero_();
  const auto reference = net->forward(x, mask, g);

  net->use_bfloat16(true);
  const auto low = net->forward(x, mask, g);
  ASSERT_EQ(low.scalar_type(), torch::kFloat);
  const double noise = (low - reference).pow(2).sum().item<double>();
  const double signal = reference.pow(2).sum().item<double>();
  EXPECT_GT(noise, 0.0) << "the convolutions ran in float32";
  EXPECT_GT(10.0 * std::log10(signal / noise), 40.0);
  EXPECT_EQ(low.narrow(2, 30, 10).abs().max().item<float>(), 0.0f);

  net->use_bfloat16(false);
  EXPECT_TRUE(torch::equal(net->forward(x, mask, g), reference));
}

}  // namespace
