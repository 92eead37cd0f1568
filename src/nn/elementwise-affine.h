#pragma once
// Per-channel affine flow step with a log-scale; only its inverse runs at inference.

#include <torch/nn/module.h>
#include <torch/nn/pimpl.h>

struct ElementwiseAffineImpl : torch::nn::Module {
  explicit ElementwiseAffineImpl(int32_t channels);
  // x [B, C, T] -> (x - translation) * exp(-log_scale) * x_mask.
  torch::Tensor reverse(const torch::Tensor &x, const torch::Tensor &x_mask);

  torch::Tensor translation;  // [C, 1]
  torch::Tensor log_scale;    // [C, 1]
};
TORCH_MODULE(ElementwiseAffine);
