#include "nn/text-encoder.h"

#include <torch/torch.h>

#include <cmath>

namespace {

constexpr int32_t kVocabSize = 49;
constexpr int32_t kHiddenChannels = 192;
constexpr int32_t kFilterChannels = 768;
constexpr int32_t kHeads = 2;
constexpr int32_t kLayers = 6;
constexpr int32_t kKernelSize = 3;

}  // namespace

TextEncoderImpl::TextEncoderImpl() {
  emb = register_module("emb", torch::nn::Embedding(kVocabSize, kHiddenChannels));
  encoder = register_module(
      "encoder", RelPosTransformer(kHiddenChannels, kFilterChannels, kHeads, kLayers, kKernelSize));
  proj = register_module(
      "proj", torch::nn::Conv1d(torch::nn::Conv1dOptions(kHiddenChannels, 2 * kHiddenChannels, 1)));
}

TextEncoderOutput TextEncoderImpl::forward(const torch::Tensor &ids, const torch::Tensor &lengths) {
  TORCH_CHECK(ids.dim() == 2 && ids.size(1) > 0, "text encoder: expected token ids [B, T] with T > 0, got ",
              ids.sizes());
  TORCH_CHECK(lengths.dim() == 1 && lengths.size(0) == ids.size(0),
              "text encoder: expected one length per sequence, got lengths ", lengths.sizes(),
              " for ids ", ids.sizes());
  // The scale is rounded to float32 first, as the trained model computed it.
  auto x = emb(ids).transpose(1, 2) * std::sqrt(static_cast<float>(kHiddenChannels));

  const int64_t t = x.size(2);
  auto positions = torch::arange(t, torch::kLong).unsqueeze(0);
  auto x_mask = (positions < lengths.unsqueeze(1)).unsqueeze(1).to(x.dtype());

  x = encoder(x * x_mask, x_mask);
  auto stats = proj(x) * x_mask;
  auto m_p = stats.slice(1, 0, kHiddenChannels);
  auto logs_p = stats.slice(1, kHiddenChannels, 2 * kHiddenChannels);
  return {x, m_p, logs_p, x_mask};
}
