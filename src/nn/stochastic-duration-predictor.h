#pragma once
// Stochastic duration predictor, inference direction only: Gaussian noise of two channels
// per token is run backwards through spline flows conditioned on the encoder states, and
// the first channel becomes the log-duration.

#include <ATen/core/Generator.h>
#include <torch/nn/module.h>
#include <torch/nn/modules/container/modulelist.h>
#include <torch/nn/modules/conv.h>
#include <torch/nn/pimpl.h>

#include <vector>

#include "nn/dds-conv.h"
#include "voice/voice-description.h"

struct StochasticDurationPredictorImpl : torch::nn::Module {
  // in_channels: the text encoder's hidden width; gin_channels > 0 adds the speaker `cond`.
  explicit StochasticDurationPredictorImpl(int32_t in_channels = 192,
                                           const DurationPredictorSizes &sizes = {},
                                           int32_t gin_channels = 0);
  // x [B, in, T], x_mask [B, 1, T], g [B, gin, 1] or undefined -> logw [B, 1, T]. Draws the
  // noise from `generator` (the request's own: never the process-wide default, which parallel
  // requests and the host share), prints "[sdp]" lines and dumps under "C:/tmp/" when that
  // directory exists.
  torch::Tensor forward(const torch::Tensor &x, const torch::Tensor &x_mask, float noise_scale,
                        at::Generator generator, const torch::Tensor &g = {});
  // Flows applied in reverse, one per step: n_flows down to 2, then the affine step 0;
  // flows[1] is trained but never run at inference (an empty placeholder when the
  // sizes leave out the training parts).
  std::vector<int> flow_order() const;

  torch::nn::Conv1d pre{nullptr};
  DDSConv convs{nullptr};
  torch::nn::Conv1d proj{nullptr};
  torch::nn::ModuleList flows{nullptr};
  // The post_* networks only serve training; registered, where the sizes ask for
  // them, so that the checkpoint binds in full.
  torch::nn::Conv1d post_pre{nullptr};
  DDSConv post_convs{nullptr};
  torch::nn::Conv1d post_proj{nullptr};
  torch::nn::ModuleList post_flows{nullptr};
  torch::nn::Conv1d cond{nullptr};  // speaker -> filter channels, added after pre; or none
  int32_t n_flows;
};
TORCH_MODULE(StochasticDurationPredictor);
