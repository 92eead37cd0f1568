#pragma once
// One-dimensional convolutions trained with weight normalisation. At run time
// they hold the plain weight: the g/v pair is folded into it when binding.

#include <torch/nn/module.h>
#include <torch/nn/modules/container/modulelist.h>
#include <torch/nn/pimpl.h>

// Convolution [B, in, T] -> [B, out, T'], in float32, or in bfloat16 for a
// bfloat16 input once a bfloat16 copy of the weights is kept.
struct WNConv1dImpl : torch::nn::Module {
  WNConv1dImpl(int32_t in_channels, int32_t out_channels, int32_t kernel_size, int32_t stride,
               int32_t padding, int32_t dilation, int32_t groups);
  torch::Tensor forward(const torch::Tensor &x);
  // Makes (or drops) the bfloat16 copy from the current weights.
  void keep_bfloat16_copy(bool keep);

  torch::Tensor weight;                  // [out, in / groups, kernel]
  torch::Tensor bias;                    // [out]
  torch::Tensor weight_bf16, bias_bf16;  // not parameters: derived from the two above
  int32_t in_channels, out_channels, kernel_size, stride, padding, dilation, groups;
};
TORCH_MODULE(WNConv1d);

// keep_bfloat16_copy on every WNConv1d of `convs`.
void keep_bfloat16_copies(const torch::nn::ModuleList &convs, bool keep);

// Transposed convolution [B, in, T] -> [B, out, T']; weight laid out [in, out, kernel].
struct WNConvTranspose1dImpl : torch::nn::Module {
  WNConvTranspose1dImpl(int32_t in_channels, int32_t out_channels, int32_t kernel_size,
                        int32_t stride, int32_t padding);
  torch::Tensor forward(const torch::Tensor &x);

  torch::Tensor weight;  // [in, out, kernel]
  torch::Tensor bias;    // [out]
  int32_t stride, padding;
};
TORCH_MODULE(WNConvTranspose1d);
