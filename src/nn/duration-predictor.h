#pragma once
// Deterministic duration predictor: two convolutions with ReLU and channel
// layer norm, projected to one log-duration per token. Draws no noise.

#include <torch/nn/module.h>
#include <torch/nn/modules/conv.h>
#include <torch/nn/pimpl.h>

#include "nn/layer-norm2.h"

struct DurationPredictorImpl : torch::nn::Module {
  // gin_channels > 0 adds the speaker `cond`, added to the input.
  DurationPredictorImpl(int32_t in_channels, int32_t filter_channels, int32_t kernel_size,
                        int32_t gin_channels = 0);
  // x [B, in, T], x_mask [B, 1, T], g [B, gin, 1] or undefined -> logw [B, 1, T]
  torch::Tensor forward(const torch::Tensor &x, const torch::Tensor &x_mask,
                        const torch::Tensor &g = {});

  torch::nn::Conv1d conv_1{nullptr};
  LayerNorm2 norm_1{nullptr};
  torch::nn::Conv1d conv_2{nullptr};
  LayerNorm2 norm_2{nullptr};
  torch::nn::Conv1d proj{nullptr};
  torch::nn::Conv1d cond{nullptr};  // speaker -> in channels; or none
};
TORCH_MODULE(DurationPredictor);
