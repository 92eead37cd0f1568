#pragma once
// Multi-head self-attention with learned relative-position embeddings (keys and
// values) inside a window of +-window_size tokens; one embedding table shared by all heads.

#include <torch/nn/module.h>
#include <torch/nn/modules/conv.h>
#include <torch/nn/pimpl.h>

struct RelativeMultiHeadAttentionImpl : torch::nn::Module {
  RelativeMultiHeadAttentionImpl(int32_t channels, int32_t n_heads, int32_t window_size);

  // x [B, C, T] (queries, keys and values), attn_mask [B, 1, T, T] or undefined -> [B, C, T].
  torch::Tensor forward(const torch::Tensor &x, const torch::Tensor &attn_mask);

  // table [1, 2w + 1, D] -> [1, 2T - 1, D]; row j holds offset j - (T - 1), zero beyond +-w.
  torch::Tensor relative_embeddings(const torch::Tensor &table, int64_t length) const;
  // [B, H, T, 2T - 1] indexed by relative offset -> [B, H, T, T] indexed by key position.
  static torch::Tensor relative_to_absolute(const torch::Tensor &x);
  // [B, H, T, T] indexed by key position -> [B, H, T, 2T - 1] indexed by relative offset.
  static torch::Tensor absolute_to_relative(const torch::Tensor &x);

  int32_t channels;
  int32_t n_heads;
  int32_t k_channels;  // channels per head
  int32_t window_size;

  torch::nn::Conv1d conv_q{nullptr}, conv_k{nullptr}, conv_v{nullptr}, conv_o{nullptr};
  torch::Tensor emb_rel_k;  // [1, 2w + 1, D]
  torch::Tensor emb_rel_v;  // [1, 2w + 1, D]
};
TORCH_MODULE(RelativeMultiHeadAttention);
