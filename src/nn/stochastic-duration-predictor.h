#pragma once
// Stochastic duration predictor, inference direction only: Gaussian noise of two channels
// per token is run backwards through spline flows conditioned on the encoder states, and
// the first channel becomes the log-duration.

#include <torch/nn/module.h>
#include <torch/nn/modules/container/modulelist.h>
#include <torch/nn/modules/conv.h>
#include <torch/nn/pimpl.h>

#include <array>

#include "nn/dds-conv.h"

// Flows applied in reverse, one per step; flows[1] is trained but never run at inference.
constexpr std::array<int, 4> kSdpFlowOrder = {4, 3, 2, 0};

struct StochasticDurationPredictorImpl : torch::nn::Module {
  StochasticDurationPredictorImpl();
  // x [B, 192, T], x_mask [B, 1, T] -> logw [B, 1, T]. Draws the noise from the default
  // generator, prints "[sdp]" lines and dumps under "C:/tmp/" when that directory exists.
  torch::Tensor forward(const torch::Tensor &x, const torch::Tensor &x_mask, float noise_scale);

  torch::nn::Conv1d pre{nullptr};
  DDSConv convs{nullptr};
  torch::nn::Conv1d proj{nullptr};
  torch::nn::ModuleList flows{nullptr};
  // The post_* networks only serve training; registered so the checkpoint binds in full.
  torch::nn::Conv1d post_pre{nullptr};
  DDSConv post_convs{nullptr};
  torch::nn::Conv1d post_proj{nullptr};
  torch::nn::ModuleList post_flows{nullptr};
};
TORCH_MODULE(StochasticDurationPredictor);
