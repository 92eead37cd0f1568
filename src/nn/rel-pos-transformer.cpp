#include "nn/rel-pos-transformer.h"

#include <torch/torch.h>

#include "nn/feed-forward.h"
#include "nn/layer-norm2.h"
#include "nn/relative-attention.h"

RelPosTransformerImpl::RelPosTransformerImpl(int32_t hidden_channels, int32_t filter_channels,
                                             int32_t n_heads, int32_t n_layers,
                                             int32_t kernel_size, int32_t window_size) {
  attn_layers = register_module("attn_layers", torch::nn::ModuleList());
  norm_layers_1 = register_module("norm_layers_1", torch::nn::ModuleList());
  ffn_layers = register_module("ffn_layers", torch::nn::ModuleList());
  norm_layers_2 = register_module("norm_layers_2", torch::nn::ModuleList());
  for (int32_t i = 0; i < n_layers; ++i) {
    attn_layers->push_back(RelativeMultiHeadAttention(hidden_channels, n_heads, window_size));
    norm_layers_1->push_back(LayerNorm2(hidden_channels));
    ffn_layers->push_back(FeedForwardNetwork(hidden_channels, filter_channels, kernel_size));
    norm_layers_2->push_back(LayerNorm2(hidden_channels));
  }
}

torch::Tensor RelPosTransformerImpl::forward(const torch::Tensor &x_in, const torch::Tensor &x_mask) {
  auto attn_mask = x_mask.unsqueeze(2) * x_mask.unsqueeze(-1);  // [B, 1, T, T]
  auto x = x_in;
  for (size_t i = 0; i < attn_layers->size(); ++i) {
    x = x * x_mask;
    auto y = attn_layers->at<RelativeMultiHeadAttentionImpl>(i).forward(x, attn_mask);
    x = norm_layers_1->at<LayerNorm2Impl>(i).forward(x + y);
    y = ffn_layers->at<FeedForwardNetworkImpl>(i).forward(x, x_mask);
    x = norm_layers_2->at<LayerNorm2Impl>(i).forward(x + y);
  }
  return x * x_mask;
}
