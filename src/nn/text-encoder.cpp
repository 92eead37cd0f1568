#include "nn/text-encoder.h"
#include "nn/pointwise-conv.h"

#include <torch/torch.h>

#include <cmath>

TextEncoderImpl::TextEncoderImpl(const TextEncoderSizes &sizes)
    : hidden_channels(sizes.hidden_channels), inter_channels(sizes.inter_channels) {
  emb = register_module("emb", torch::nn::Embedding(sizes.n_vocab, hidden_channels));
  encoder = register_module(
      "encoder", RelPosTransformer(hidden_channels, sizes.filter_channels, sizes.n_heads,
                                   sizes.n_layers, sizes.kernel_size, sizes.window_size));
  proj = register_module(
      "proj", torch::nn::Conv1d(torch::nn::Conv1dOptions(hidden_channels, 2 * inter_channels, 1)));
}

TextEncoderOutput TextEncoderImpl::forward(const torch::Tensor &ids, const torch::Tensor &lengths) {
  TORCH_CHECK(ids.dim() == 2 && ids.size(1) > 0, "text encoder: expected token ids [B, T] with T > 0, got ",
              ids.sizes());
  TORCH_CHECK(lengths.dim() == 1 && lengths.size(0) == ids.size(0),
              "text encoder: expected one length per sequence, got lengths ", lengths.sizes(),
              " for ids ", ids.sizes());
  // The scale is rounded to float32 first, as the trained model computed it.
  auto x = emb(ids).transpose(1, 2) * std::sqrt(static_cast<float>(hidden_channels));

  const int64_t t = x.size(2);
  auto positions = torch::arange(t, torch::kLong).unsqueeze(0);
  auto x_mask = (positions < lengths.unsqueeze(1)).unsqueeze(1).to(x.dtype());

  x = encoder(x * x_mask, x_mask);
  auto stats = pointwise_conv(proj, x) * x_mask;
  auto m_p = stats.slice(1, 0, inter_channels);
  auto logs_p = stats.slice(1, inter_channels, 2 * inter_channels);
  return {x, m_p, logs_p, x_mask};
}
