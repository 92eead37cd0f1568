#pragma once
// Layer normalisation over the channel axis of [B, C, T].

#include <torch/nn/module.h>
#include <torch/nn/pimpl.h>

struct LayerNorm2Impl : torch::nn::Module {
  explicit LayerNorm2Impl(int32_t channels);
  torch::Tensor forward(const torch::Tensor &x);  // [B, C, T] -> [B, C, T]

  torch::Tensor gamma;  // [C], scale
  torch::Tensor beta;   // [C], shift
  int32_t channels;
};
TORCH_MODULE(LayerNorm2);
