#include "nn/relative-attention.h"

#include <torch/torch.h>

#include <algorithm>
#include <cmath>

#include "nn/random-start.h"
#include "nn/pointwise-conv.h"

namespace {

torch::nn::Conv1d pointwise_module(int32_t channels) {
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
  conv_q = register_module("conv_q", pointwise_module(channels));
  conv_k = register_module("conv_k", pointwise_module(channels));
  conv_v = register_module("conv_v", pointwise_module(channels));
  conv_o = register_module("conv_o", pointwise_module(channels));
  emb_rel_k = register_parameter("emb_rel_k", random_start({1, 2 * window_size + 1, k_channels}));
  emb_rel_v = register_parameter("emb_rel_v", random_start({1, 2 * window_size + 1, k_channels}));
}

torch::Tensor RelativeMultiHeadAttentionImpl::forward(const torch::Tensor &x,
                                                      const torch::Tensor &attn_mask) {
  const int64_t b = x.size(0);
  const int64_t t = x.size(2);
  auto heads = [&](const torch::Tensor &y) {
    return y.reshape({b, n_heads, k_channels, t}).transpose(2, 3);  // [B, H, T, D]
  };
  auto q = heads(pointwise_conv(conv_q, x));
  auto k = heads(pointwise_conv(conv_k, x));
  auto v = heads(pointwise_conv(conv_v, x));

  // The product is divided afterwards, by the float32 root, to match the trained numerics.
  const float scale = std::sqrt(static_cast<float>(k_channels));
  auto scores = torch::matmul(q, k.transpose(-2, -1)) / scale;
  add_band_(scores, torch::matmul(q, emb_rel_k.transpose(-2, -1).unsqueeze(0)) / scale);
  if (attn_mask.defined()) scores.masked_fill_(attn_mask == 0, kMaskedScore);
  auto p_attn = torch::softmax(scores, -1);

  auto out = torch::matmul(p_attn, v);
  out.add_(torch::matmul(band_of(p_attn, window_size), emb_rel_v.unsqueeze(0)));
  out = out.transpose(2, 3).contiguous().reshape({b, channels, t});
  return pointwise_conv(conv_o, out);
}

torch::Tensor RelativeMultiHeadAttentionImpl::add_band_(torch::Tensor x,
                                                        const torch::Tensor &band) {
  const int64_t t = x.size(-1);
  const int64_t window = (band.size(-1) - 1) / 2;
  for (int64_t o = -std::min(window, t - 1); o <= std::min(window, t - 1); ++o)
    x.diagonal(o, -2, -1).add_(
        band.select(-1, o + window).narrow(-1, std::max<int64_t>(0, -o), t - std::abs(o)));
  return x;
}

torch::Tensor RelativeMultiHeadAttentionImpl::band_of(const torch::Tensor &x, int64_t window_size) {
  const int64_t t = x.size(-1);
  auto sizes = x.sizes().vec();
  sizes.back() = 2 * window_size + 1;
  auto band = torch::zeros(sizes, x.options());
  for (int64_t o = -std::min<int64_t>(window_size, t - 1);
       o <= std::min<int64_t>(window_size, t - 1); ++o)
    band.select(-1, o + window_size)
        .narrow(-1, std::max<int64_t>(0, -o), t - std::abs(o))
        .copy_(x.diagonal(o, -2, -1));
  return band;
}
