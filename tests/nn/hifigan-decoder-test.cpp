#include "nn/hifigan-decoder.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <cmath>
#include <string>
#include <vector>

#include "nn/resblock.h"
#include "nn/wn-conv.h"

namespace {

using Shape = std::vector<int64_t>;

// Fan-in scaled weights keep activations finite through the ~40 convolutions
// (the randn placeholders overflow); conv_post is then scaled up so that the
// pre-tanh values leave [-1, 1] and the bound is actually exercised.
Decoder sane_decoder() {
  torch::manual_seed(7);
  Decoder dec;
  torch::NoGradGuard no_grad;
  for (auto &w : dec->parameters()) {
    if (w.dim() == 3) w.normal_(0.0, 1.0 / std::sqrt(static_cast<double>(w.numel() / w.size(0))));
  }
  dec->conv_post->weight.mul_(1000.0);
  return dec;
}

TEST(Decoder, ParameterTree) {
  Decoder dec;
  const auto params = dec->named_parameters();
  ASSERT_EQ(params.size(), 155u);
  EXPECT_EQ(params[0].key(), "conv_pre.weight");
  EXPECT_EQ(params[0].value().sizes().vec(), (Shape{1024, 192, 7}));
  EXPECT_EQ(params[1].key(), "conv_pre.bias");
  EXPECT_EQ(params[154].key(), "conv_post.weight");
  EXPECT_EQ(params[154].value().sizes().vec(), (Shape{1, 64, 7}));
  EXPECT_EQ(params.find("conv_post.bias"), nullptr);

  const std::vector<Shape> up_shapes = {{1024, 512, 16}, {512, 256, 16}, {256, 128, 8}, {128, 64, 4}};
  for (int i = 0; i < 4; ++i) {
    const auto name = "ups." + std::to_string(i);
    EXPECT_EQ(params[2 + 2 * i].key(), name + ".weight");
    EXPECT_EQ(params[2 + 2 * i].value().sizes().vec(), up_shapes[i]);
    EXPECT_EQ(params[3 + 2 * i].value().sizes().vec(), (Shape{up_shapes[i][1]}));
  }
  EXPECT_EQ(params[10].key(), "resblocks.0.convs1.0.weight");
  EXPECT_EQ(params[153].key(), "resblocks.11.convs2.2.bias");
  EXPECT_EQ(params["resblocks.7.convs1.1.weight"].sizes().vec(), (Shape{128, 128, 7}));
  EXPECT_EQ(params["resblocks.11.convs2.2.weight"].sizes().vec(), (Shape{64, 64, 11}));
}

TEST(Decoder, UpsamplingAndResidualPaddings) {
  Decoder dec;
  const int expected_padding[] = {4, 4, 2, 1};
  for (int i = 0; i < 4; ++i) {
    auto up = dec->ups->ptr<WNConvTranspose1dImpl>(i);
    EXPECT_EQ(up->stride, DecoderSizes().upsample_rates[static_cast<size_t>(i)]);
    EXPECT_EQ(up->padding, expected_padding[i]);
  }
  // Kernel 11 block: dilated paddings 5, 15, 25; plain ones 5 each.
  auto block = dec->resblocks->ptr<ResBlockImpl>(2);
  const int dilated[] = {5, 15, 25};
  for (int n = 0; n < 3; ++n) {
    EXPECT_EQ(block->convs1->ptr<WNConv1dImpl>(n)->padding, dilated[n]);
    EXPECT_EQ(block->convs1->ptr<WNConv1dImpl>(n)->dilation, DecoderSizes().resblock_dilation_sizes[2][static_cast<size_t>(n)]);
    EXPECT_EQ(block->convs2->ptr<WNConv1dImpl>(n)->padding, 5);
    EXPECT_EQ(block->convs2->ptr<WNConv1dImpl>(n)->dilation, 1);
  }
}

TEST(Decoder, MakesBoundedAudioOf512SamplesPerFrame) {
  auto dec = sane_decoder();
  torch::NoGradGuard no_grad;
  for (int64_t frames : {1, 7}) {
    const auto wave = dec->forward(torch::randn({1, 192, frames}));
    ASSERT_EQ(wave.sizes().vec(), (Shape{1, 1, 512 * frames}));
    EXPECT_TRUE(torch::isfinite(wave).all().item<bool>());
    EXPECT_LE(wave.abs().max().item<float>(), 1.0f);
    // Saturated somewhere: the tanh bound, not small weights, keeps it in range.
    EXPECT_GT(wave.abs().max().item<float>(), 0.99f);
  }
}

TEST(ResBlock, KeepsTheLengthForEveryKernel) {
  torch::NoGradGuard no_grad;
  for (int32_t kernel : DecoderSizes().resblock_kernel_sizes) {
    ResBlock block(4, kernel, std::vector<int32_t>{1, 3, 5});
    EXPECT_EQ(block->forward(torch::randn({1, 4, 13})).sizes().vec(), (Shape{1, 4, 13}));
  }
}

}  // namespace
