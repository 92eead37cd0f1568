#include "nn/resblock.h"

#include <torch/torch.h>

#include "nn/wn-conv.h"

namespace {
constexpr double kSlope = 0.1;
}  // namespace

ResBlockImpl::ResBlockImpl(int32_t channels, int32_t kernel_size,
                           const std::vector<int32_t> &dilations) {
  convs1 = register_module("convs1", torch::nn::ModuleList());
  convs2 = register_module("convs2", torch::nn::ModuleList());
  for (int32_t d : dilations) {
    convs1->push_back(
        WNConv1d(channels, channels, kernel_size, 1, d * (kernel_size - 1) / 2, d, 1));
    convs2->push_back(WNConv1d(channels, channels, kernel_size, 1, (kernel_size - 1) / 2, 1, 1));
  }
}

torch::Tensor ResBlockImpl::forward(const torch::Tensor &x_in) {
  auto x = x_in;
  for (size_t n = 0; n < convs1->size(); ++n) {
    auto t = convs1->ptr<WNConv1dImpl>(n)->forward(torch::leaky_relu(x, kSlope));
    t = convs2->ptr<WNConv1dImpl>(n)->forward(torch::leaky_relu(t, kSlope));
    x = x + t;
  }
  return x;
}
