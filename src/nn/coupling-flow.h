#pragma once
// Residual coupling flow: mean-only affine coupling layers whose shift of one half
// of the channels is predicted from the other half by a WaveNet. Inference runs
// the layers in reverse order, flipping the channel order before each.

#include <torch/nn/module.h>
#include <torch/nn/modules/container/modulelist.h>
#include <torch/nn/modules/conv.h>
#include <torch/nn/pimpl.h>

#include "nn/wavenet.h"

struct ResidualCouplingLayerImpl : torch::nn::Module {
  // channels must be even: the two halves have the same size.
  ResidualCouplingLayerImpl(int32_t channels, int32_t hidden_channels, int32_t kernel_size,
                            int32_t dilation_rate, int32_t n_layers, int32_t gin_channels = 0);
  // x [B, channels, T], x_mask [B, 1, T], g [B, gin, 1] or undefined (no speaker)
  // -> [B, channels, T]; the first half passes through unchanged.
  torch::Tensor forward(const torch::Tensor &x, const torch::Tensor &x_mask, bool reverse,
                        const torch::Tensor &g);
  // With skip, and when `post` outputs +0, forward takes that +0 shift without
  // running pre, enc and post: the same result for finite activations. Without,
  // runs them always. Returns whether the layer is skipped.
  bool skip_if_identity(bool skip);

  int32_t half_channels;
  bool skipped = false;
  torch::nn::Conv1d pre{nullptr};   // half -> hidden, 1x1
  torch::nn::Conv1d post{nullptr};  // hidden -> half, 1x1, zero at construction
  WaveNet enc{nullptr};
};
TORCH_MODULE(ResidualCouplingLayer);

// Container of the coupling layers; the caller walks `flows` itself.
struct FlowImpl : torch::nn::Module {
  FlowImpl(int32_t channels, int32_t hidden_channels, int32_t kernel_size, int32_t dilation_rate,
           int32_t n_layers, int32_t n_flows, int32_t gin_channels = 0);
  // Frames on each side that one output frame of the whole reverse pass depends on.
  int64_t context_frames() const;
  // skip_if_identity on every layer; returns the layers skipped.
  int skip_identity_layers(bool skip);

  torch::nn::ModuleList flows{nullptr};  // ResidualCouplingLayer, 0 .. n_flows - 1
  int32_t n_flows;
};
TORCH_MODULE(Flow);
