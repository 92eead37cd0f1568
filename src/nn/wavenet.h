#pragma once
// Stack of gated dilated convolutions with residual and skip paths, the body of
// each coupling layer, optionally conditioned on a speaker. No dropout.

#include <torch/nn/module.h>
#include <torch/nn/modules/container/modulelist.h>
#include <torch/nn/pimpl.h>

#include "nn/wn-conv.h"

struct WaveNetImpl : torch::nn::Module {
  // Layer i has dilation dilation_rate^i and the padding that keeps the length;
  // gin_channels > 0 adds cond_layer.
  WaveNetImpl(int32_t hidden_channels, int32_t kernel_size, int32_t dilation_rate,
              int32_t n_layers, int32_t gin_channels = 0);
  // x [B, h, T], x_mask [B, 1, T], g [B, gin, 1] or undefined -> sum of the skip
  // outputs [B, h, T], masked.
  torch::Tensor forward(const torch::Tensor &x, const torch::Tensor &x_mask,
                        const torch::Tensor &g = {});
  // Frames on each side that one output frame depends on.
  int64_t context_frames() const;
  // The gated and residual/skip convolutions in bfloat16 (their sums and gates
  // staying float32), or back in float32.
  void use_bfloat16(bool on);

  int32_t hidden_channels;
  int32_t n_layers;
  bool bfloat16 = false;
  torch::nn::ModuleList in_layers{nullptr};        // WNConv1d, h -> 2h
  torch::nn::ModuleList res_skip_layers{nullptr};  // WNConv1d 1x1, h -> 2h (last: h -> h)
  // WNConv1d 1x1, gin -> 2h per layer: layer i's gates get slice i; or none.
  WNConv1d cond_layer{nullptr};
};
TORCH_MODULE(WaveNet);
