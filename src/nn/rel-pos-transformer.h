#pragma once
// Post-norm transformer encoder: per layer, relative-position self-attention and a
// convolutional feed-forward block, each followed by a residual channel layer norm.

#include <torch/nn/module.h>
#include <torch/nn/modules/container/modulelist.h>
#include <torch/nn/pimpl.h>

struct RelPosTransformerImpl : torch::nn::Module {
  RelPosTransformerImpl(int32_t hidden_channels, int32_t filter_channels, int32_t n_heads,
                        int32_t n_layers, int32_t kernel_size, int32_t window_size = 4);

  // x [B, hidden, T], x_mask [B, 1, T] -> [B, hidden, T], zero at masked positions.
  torch::Tensor forward(const torch::Tensor &x, const torch::Tensor &x_mask);

  torch::nn::ModuleList attn_layers{nullptr};    // RelativeMultiHeadAttentionImpl
  torch::nn::ModuleList norm_layers_1{nullptr};  // LayerNorm2Impl
  torch::nn::ModuleList ffn_layers{nullptr};     // FeedForwardNetworkImpl
  torch::nn::ModuleList norm_layers_2{nullptr};  // LayerNorm2Impl
};
TORCH_MODULE(RelPosTransformer);
