#pragma once
// Stack of gated dilated convolutions with residual and skip paths, the body of
// each coupling layer. No conditioning input and no dropout.

#include <torch/nn/module.h>
#include <torch/nn/modules/container/modulelist.h>
#include <torch/nn/pimpl.h>

struct WaveNetImpl : torch::nn::Module {
  // Layer i has dilation dilation_rate^i and the padding that keeps the length.
  WaveNetImpl(int32_t hidden_channels, int32_t kernel_size, int32_t dilation_rate,
              int32_t n_layers);
  // x [B, h, T], x_mask [B, 1, T] -> sum of the skip outputs [B, h, T], masked.
  torch::Tensor forward(const torch::Tensor &x, const torch::Tensor &x_mask);
  // Frames on each side that one output frame depends on.
  int64_t context_frames() const;

  int32_t hidden_channels;
  int32_t n_layers;
  torch::nn::ModuleList in_layers{nullptr};        // WNConv1d, h -> 2h
  torch::nn::ModuleList res_skip_layers{nullptr};  // WNConv1d 1x1, h -> 2h (last: h -> h)
};
TORCH_MODULE(WaveNet);
