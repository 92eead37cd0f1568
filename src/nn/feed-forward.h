#pragma once
// Position-wise feed-forward block of the transformer: two convolutions with a ReLU
// between them, masked before each convolution and at the end.

#include <torch/nn/module.h>
#include <torch/nn/modules/conv.h>
#include <torch/nn/pimpl.h>

struct FeedForwardNetworkImpl : torch::nn::Module {
  FeedForwardNetworkImpl(int32_t channels, int32_t filter_channels, int32_t kernel_size);

  // x [B, C, T], x_mask [B, 1, T] -> [B, C, T].
  torch::Tensor forward(const torch::Tensor &x, const torch::Tensor &x_mask);

  torch::nn::Conv1d conv_1{nullptr}, conv_2{nullptr};
};
TORCH_MODULE(FeedForwardNetwork);
