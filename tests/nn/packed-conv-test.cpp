// A packed convolution against the tensor library's, in both layouts, with a
// dilation wide enough to run folded and each step it can do after the product.
#include "nn/packed-conv.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <vector>

namespace {

// [C, L] float32 into the buffer layout of `a`, and back.
std::vector<float> to_layout(const torch::Tensor &x, const Activations &a) {
  const auto t = a.block ? torch::constant_pad_nd(x, {0, 0, 0, a.padded_channels() - a.channels})
                               .view({a.padded_channels() / a.block, a.block, a.length})
                               .permute({0, 2, 1})
                         : x.t();
  const auto c = t.contiguous();
  return {c.data_ptr<float>(), c.data_ptr<float>() + c.numel()};
}

torch::Tensor from_layout(std::vector<float> data, const Activations &a) {
  const auto t = torch::tensor(data);
  if (!a.block) return t.view({a.length, a.channels}).t();
  return t.view({a.padded_channels() / a.block, a.length, a.block})
      .permute({0, 2, 1})
      .reshape({a.padded_channels(), a.length})
      .narrow(0, 0, a.channels);
}

TEST(PackedConv, MatchesTheTensorLibraryWithEveryEpilogue) {
  torch::manual_seed(5);
  const int64_t channels = 24, length = 96, kernel = 7, dilation = 12;
  const int64_t padding = dilation * (kernel - 1) / 2;
  const auto x = torch::randn({channels, length});
  const auto w = torch::randn({channels, channels, kernel}) * 0.1;
  const auto b = torch::randn({channels});
  const auto product = at::conv1d(x.unsqueeze(0), w, b, 1, padding, dilation)[0];
  const auto residual = torch::randn({channels, length});
  for (const int64_t block : {0, 16}) {
    const Activations shape{ActivationType::kFloat, block, channels, length};
    const auto src = to_layout(x, shape);
    const ConvShape conv{channels, channels, kernel, 1, dilation, padding};
    {
      PackedConv packed(w.data_ptr<float>(), b.data_ptr<float>(), conv, shape, shape,
                        {true, 0.1f, false, false});
      std::vector<float> dst(src.size());
      packed.run(src.data(), dst.data());
      EXPECT_LT((from_layout(dst, shape) - torch::leaky_relu(product, 0.1)).abs().max().item<float>(),
                1e-5f)
          << packed.kernel_name();
    }
    {
      PackedConv packed(w.data_ptr<float>(), b.data_ptr<float>(), conv, shape, shape,
                        {false, 0.0f, true, true});
      auto dst = to_layout(residual, shape);
      packed.run(src.data(), dst.data());
      EXPECT_LT((from_layout(dst, shape) - torch::tanh(product + residual)).abs().max().item<float>(),
                1e-5f)
          << packed.kernel_name();
    }
  }
}

TEST(PackedConv, ABiasGivenAtRunTimeReplacesTheOwnOne) {
  const Activations shape{ActivationType::kFloat, 0, 2, 4};
  const std::vector<float> w{1, 0, 0, 1}, own{5, 5}, other{-1, 2};
  PackedConv packed(w.data(), own.data(), {2, 2, 1}, shape, shape, {});
  const std::vector<float> src(8, 1.0f);
  std::vector<float> dst(8);
  packed.run(src.data(), dst.data(), other.data());
  EXPECT_EQ(dst, (std::vector<float>{0, 3, 0, 3, 0, 3, 0, 3}));
}

}  // namespace
