#pragma once
// Text encoder: token ids -> per-token hidden features and the prior's mean and
// log standard deviation over the acoustic latent.

#include <torch/nn/module.h>
#include <torch/nn/modules/conv.h>
#include <torch/nn/modules/embedding.h>
#include <torch/nn/pimpl.h>

#include "nn/rel-pos-transformer.h"
#include "voice/voice-description.h"

struct TextEncoderOutput {
  torch::Tensor x;       // [B, hidden, T] hidden features
  torch::Tensor m_p;     // [B, inter, T] prior mean
  torch::Tensor logs_p;  // [B, inter, T] prior log standard deviation
  torch::Tensor x_mask;  // [B, 1, T], 1 inside each sequence, 0 beyond it
};

struct TextEncoderImpl : torch::nn::Module {
  explicit TextEncoderImpl(const TextEncoderSizes &sizes = {});

  // ids int64 [B, T] (0 .. n_vocab - 1), lengths int64 [B]. Features beyond a length are zero.
  TextEncoderOutput forward(const torch::Tensor &ids, const torch::Tensor &lengths);

  torch::nn::Embedding emb{nullptr};
  RelPosTransformer encoder{nullptr};
  torch::nn::Conv1d proj{nullptr};
  int32_t hidden_channels, inter_channels;
};
TORCH_MODULE(TextEncoder);
