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

  // The relative embeddings are zero beyond +-w, so the relative terms live in a
  // band of 2w + 1 diagonals: [B, H, T, 2w + 1] indexed by offset + w. Building
  // the [T, 2T - 1] tables instead would cost memory quadratic in T for zeros.
  // Adds band[.., i, o + w] to x[.., i, i + o] for every offset o that fits; returns x.
  static torch::Tensor add_band_(torch::Tensor x, const torch::Tensor &band);
  // x [B, H, T, T] -> band [B, H, T, 2w + 1]: x[.., i, i + o], zero where i + o is outside.
  static torch::Tensor band_of(const torch::Tensor &x, int64_t window_size);

  int32_t channels;
  int32_t n_heads;
  int32_t k_channels;  // channels per head
  int32_t window_size;

  torch::nn::Conv1d conv_q{nullptr}, conv_k{nullptr}, conv_v{nullptr}, conv_o{nullptr};
  torch::Tensor emb_rel_k;  // [1, 2w + 1, D]
  torch::Tensor emb_rel_v;  // [1, 2w + 1, D]
};
TORCH_MODULE(RelativeMultiHeadAttention);
