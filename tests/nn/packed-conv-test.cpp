// A packed convolution against the tensor library's, in both layouts, with a
// dilation wide enough to run folded and each step it can do after the product.
#include "nn/packed-conv.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <cstdint>
#include <cstring>
#include <thread>
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

// Servers run one voice's kernels on many threads at once, none of them the
// thread that built the kernels.
TEST(PackedConv, RunsOnOtherThreadsAndOnSeveralAtOnce) {
  torch::manual_seed(9);
  const int64_t channels = 64, length = 2048, kernel = 5;
  const auto x = torch::randn({length, channels});  // channels-last
  const auto w = torch::randn({channels, channels, kernel}) * 0.1;
  const auto b = torch::randn({channels});
  for (const auto type : {ActivationType::kFloat, ActivationType::kBFloat16}) {
    const Activations src_shape{type, 0, channels, length};
    const Activations dst_shape{ActivationType::kFloat, 0, channels, length};
    std::unique_ptr<PackedConv> packed;
    try {
      packed = std::make_unique<PackedConv>(w.data_ptr<float>(), b.data_ptr<float>(),
                                            ConvShape{channels, channels, kernel, 1, 1, kernel / 2},
                                            src_shape, dst_shape, ConvEpilogue{});
    } catch (const dnnl::error &) {
      continue;  // no bfloat16 kernel on this CPU
    }
    const auto in = type == ActivationType::kFloat ? x : x.to(torch::kBFloat16);
    std::vector<char> src(src_shape.bytes());
    std::memcpy(src.data(), in.data_ptr(), src.size());
    std::vector<float> alone(static_cast<size_t>(channels * length));
    packed->run(src.data(), alone.data());
    std::vector<int> mismatches(2, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
      threads.emplace_back([&, t] {
        std::vector<float> dst(alone.size());
        for (int i = 0; i < 20; ++i) {
          packed->run(src.data(), dst.data());
          mismatches[static_cast<size_t>(t)] += dst == alone ? 0 : 1;
        }
      });
    for (auto &thread : threads) thread.join();
    EXPECT_EQ(mismatches, (std::vector<int>{0, 0})) << packed->kernel_name();
  }
}

}  // namespace
