#pragma once
// Stack of dilated depthwise-separable convolutions (dilations 1, 3, 9, ...), each layer
// added back as a residual; keeps the time length.

#include <torch/nn/module.h>
#include <torch/nn/modules/container/modulelist.h>
#include <torch/nn/pimpl.h>

struct DDSConvImpl : torch::nn::Module {
  DDSConvImpl(int32_t channels, int32_t kernel_size, int32_t n_layers);
  // x [B, C, T], x_mask [B, 1, T], g [B, C, T] or undefined -> [B, C, T]
  torch::Tensor forward(const torch::Tensor &x, const torch::Tensor &x_mask,
                        const torch::Tensor &g);

  int32_t n_layers;
  torch::nn::ModuleList convs_sep{nullptr};
  torch::nn::ModuleList convs_1x1{nullptr};
  torch::nn::ModuleList norms_1{nullptr};
  torch::nn::ModuleList norms_2{nullptr};
};
TORCH_MODULE(DDSConv);
