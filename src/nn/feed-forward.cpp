#include "nn/feed-forward.h"

#include <torch/torch.h>

namespace {

// Zero fill on both sides keeps the length; the mask before it makes padding and
// masked positions look alike.
torch::nn::Conv1d same_length_conv(int32_t in, int32_t out, int32_t kernel_size) {
  return torch::nn::Conv1d(torch::nn::Conv1dOptions(in, out, kernel_size).padding((kernel_size - 1) / 2));
}

}  // namespace

FeedForwardNetworkImpl::FeedForwardNetworkImpl(int32_t channels, int32_t filter_channels,
                                               int32_t kernel_size) {
  conv_1 = register_module("conv_1", same_length_conv(channels, filter_channels, kernel_size));
  conv_2 = register_module("conv_2", same_length_conv(filter_channels, channels, kernel_size));
}

torch::Tensor FeedForwardNetworkImpl::forward(const torch::Tensor &x, const torch::Tensor &x_mask) {
  auto h = torch::relu(conv_1(x * x_mask));
  h = conv_2(h * x_mask);
  return h * x_mask;
}
