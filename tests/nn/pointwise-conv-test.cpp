// Convolutions of kernel 1 give the same samples whatever the thread count, and
// libtorch's convolution's within rounding.
#include "nn/pointwise-conv.h"

#include <ATen/Parallel.h>
#include <gtest/gtest.h>
#include <torch/torch.h>

namespace {

// Runs `f` with `threads` intra-op threads, restoring the count after.
template <typename F>
torch::Tensor with_threads(int threads, F f) {
  const int saved = at::get_num_threads();
  at::set_num_threads(threads);
  torch::Tensor out = f();
  at::set_num_threads(saved);
  return out;
}

TEST(PointwiseConv, TheThreadCountChangesNoSample) {
  torch::NoGradGuard no_grad;
  torch::manual_seed(3);
  // Past the size at which libtorch hands a convolution to oneDNN when it has threads.
  const auto x = torch::randn({1, 192, 400});
  const auto weight = torch::randn({384, 192, 1}) * 0.05;
  const auto bias = torch::randn({384});
  const auto one = with_threads(1, [&] { return pointwise_conv(x, weight, bias); });
  const auto two = with_threads(2, [&] { return pointwise_conv(x, weight, bias); });
  EXPECT_TRUE(torch::equal(one, two));
  EXPECT_TRUE(torch::allclose(one, at::conv1d(x, weight, bias), 1e-5, 1e-5));

  torch::nn::Conv1d module(torch::nn::Conv1dOptions(192, 384, 1).bias(false));
  EXPECT_TRUE(torch::allclose(pointwise_conv(module, x), module(x), 1e-5, 1e-5));
}

TEST(PointwiseConv, BatchesAndOtherConvolutions) {
  torch::NoGradGuard no_grad;
  torch::manual_seed(4);
  const auto x = torch::randn({3, 8, 11});
  const auto weight = torch::randn({5, 8, 1});
  const auto bias = torch::randn({5});
  const auto batched = pointwise_conv(x, weight, bias);
  ASSERT_EQ(batched.sizes(), (std::vector<int64_t>{3, 5, 11}));
  for (int64_t b = 0; b < 3; ++b)
    EXPECT_TRUE(torch::allclose(batched[b], pointwise_conv(x.narrow(0, b, 1), weight, bias)[0]));
  // A wider kernel is libtorch's convolution itself.
  const auto wide = torch::randn({5, 8, 3});
  EXPECT_TRUE(torch::equal(pointwise_conv(x, wide, bias), at::conv1d(x, wide, bias)));
}

}  // namespace
