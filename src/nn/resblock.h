#pragma once
// Residual block of the waveform decoder: per dilation, a dilated convolution and
// (type 1) a plain one behind leaky ReLUs, added back onto the input.

#include <torch/nn/module.h>
#include <torch/nn/modules/container/modulelist.h>
#include <torch/nn/pimpl.h>

#include <vector>

struct ResBlockImpl : torch::nn::Module {
  // kernel_size should be odd so that every convolution keeps the length.
  // Type 2 has no plain convolutions; its dilated ones are registered as "convs".
  ResBlockImpl(int32_t channels, int32_t kernel_size, const std::vector<int32_t> &dilations,
               int32_t type = 1);
  torch::Tensor forward(const torch::Tensor &x);  // [B, C, L] -> [B, C, L]
  // Runs the convolutions in bfloat16 (the residual sum stays float32), or back in float32.
  void use_bfloat16(bool on);
  // Samples on each side that one output sample depends on (skipped steps included,
  // so that windows, and with them the samples, stay as they are).
  int64_t context_samples() const;
  // With skip, marks the steps whose second convolution outputs +0: forward then
  // adds that +0 without running either convolution, which gives the same sum for
  // finite activations. Without, runs every step. Returns the steps marked.
  int skip_identity_steps(bool skip);

  torch::nn::ModuleList convs1{nullptr};  // WNConv1d, dilation d
  torch::nn::ModuleList convs2{nullptr};  // WNConv1d, dilation 1; none in type 2
  bool bfloat16 = false;
  std::vector<bool> skipped;  // per step; empty: none
};
TORCH_MODULE(ResBlock);
