#pragma once
// Coupling flow step: the second half of the channels goes through a rational-quadratic
// spline whose bins are predicted from the first half and the conditioning.

#include <torch/nn/module.h>
#include <torch/nn/modules/conv.h>
#include <torch/nn/pimpl.h>

#include "nn/dds-conv.h"

struct ConvFlowImpl : torch::nn::Module {
  ConvFlowImpl(int32_t in_channels, int32_t filter_channels, int32_t kernel_size,
               int32_t n_layers, int32_t num_bins, float tail_bound = 5.0f);
  // x [B, in, T], x_mask [B, 1, T], g [B, filter, T] -> [B, in, T]
  torch::Tensor forward(const torch::Tensor &x, const torch::Tensor &x_mask,
                        const torch::Tensor &g, bool reverse);

  int32_t num_bins;
  int32_t half_channels;
  int32_t filter_channels;
  float tail_bound;
  torch::nn::Conv1d pre{nullptr};
  DDSConv convs{nullptr};
  torch::nn::Conv1d proj{nullptr};
};
TORCH_MODULE(ConvFlow);
