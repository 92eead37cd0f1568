#include "nn/relative-attention.h"

#include <torch/torch.h>

#include <algorithm>
#include <cmath>

namespace {

torch::nn::Conv1d pointwise_conv(int32_t channels) {
  return torch::nn::Conv1d(torch::nn::Conv1dOptions(channels, channels, 1));
}

// Attention scores of masked keys; small enough to vanish in the softmax, finite
// so that a fully masked row stays a uniform distribution rather than NaN.
constexpr float kMaskedScore = -1e4f;

}  // namespace

RelativeMultiHeadAttentionImpl::RelativeMultiHeadAttentionImpl(int32_t channels, int32_t n_heads,
                                                               int32_t window_size)
    : channels(channels),
      n_heads(n_heads),
      k_channels(channels / n_heads),
      window_size(window_size) {
  conv_q = register_module("conv_q", pointwise_conv(channels));
  conv_k = register_module("conv_k", pointwise_conv(channels));
  conv_v = register_module("conv_v", pointwise_conv(channels));
  conv_o = register_module("conv_o", pointwise_conv(channels));
  emb_rel_k = register_parameter("emb_rel_k", torch::randn({1, 2 * window_size + 1, k_channels}));
  emb_rel_v = register_parameter("emb_rel_v", torch::randn({1, 2 * window_size + 1, k_channels}));
}

torch::Tensor RelativeMultiHeadAttentionImpl::forward(const torch::Tensor &x,
                                                      const torch::Tensor &attn_mask) {
  const int64_t b = x.size(0);
  const int64_t t = x.size(2);
  auto heads = [&](const torch::Tensor &y) {
    return y.reshape({b, n_heads, k_channels, t}).transpose(2, 3);  // [B, H, T, D]
  };
  auto q = heads(conv_q(x));
  auto k = heads(conv_k(x));
  auto v = heads(conv_v(x));

  // The product is divided afterwards, by the float32 root, to match the trained numerics.
  const float scale = std::sqrt(static_cast<float>(k_channels));
  auto scores = torch::matmul(q, k.transpose(-2, -1)) / scale;
  auto key_rel = relative_embeddings(emb_rel_k, t).unsqueeze(0).transpose(-2, -1);
  scores = scores + relative_to_absolute(torch::matmul(q, key_rel)) / scale;
  if (attn_mask.defined()) scores = scores.masked_fill(attn_mask == 0, kMaskedScore);
  auto p_attn = torch::softmax(scores, -1);

  auto out = torch::matmul(p_attn, v);
  auto value_rel = relative_embeddings(emb_rel_v, t).unsqueeze(0);
  out = out + torch::matmul(absolute_to_relative(p_attn), value_rel);
  out = out.transpose(2, 3).contiguous().reshape({b, channels, t});
  return conv_o(out);
}

torch::Tensor RelativeMultiHeadAttentionImpl::relative_embeddings(const torch::Tensor &table,
                                                                  int64_t length) const {
  const int64_t pad = std::max<int64_t>(length - window_size - 1, 0);
  const int64_t start = std::max<int64_t>(window_size + 1 - length, 0);
  auto padded = pad > 0 ? torch::constant_pad_nd(table, {0, 0, pad, pad}, 0) : table;
  return padded.slice(1, start, start + 2 * length - 1);
}

// Skewing by zero fills and reshapes instead of a gather: each row of the padded,
// flattened tensor starts one column further left than the row before.
torch::Tensor RelativeMultiHeadAttentionImpl::relative_to_absolute(const torch::Tensor &x) {
  const int64_t b = x.size(0), h = x.size(1), t = x.size(2);
  auto flat = torch::constant_pad_nd(x, {0, 1}, 0).reshape({b, h, 2 * t * t});
  flat = torch::constant_pad_nd(flat, {0, t - 1}, 0);
  return flat.reshape({b, h, t + 1, 2 * t - 1}).slice(2, 0, t).slice(3, t - 1, 2 * t - 1);
}

torch::Tensor RelativeMultiHeadAttentionImpl::absolute_to_relative(const torch::Tensor &x) {
  const int64_t b = x.size(0), h = x.size(1), t = x.size(2);
  auto flat = torch::constant_pad_nd(x, {0, t - 1}, 0).reshape({b, h, t * (2 * t - 1)});
  flat = torch::constant_pad_nd(flat, {t, 0}, 0);
  return flat.reshape({b, h, t, 2 * t}).slice(3, 1);
}
