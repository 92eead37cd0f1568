#include "nn/coupling-flow.h"

#include <torch/torch.h>

#include "nn/zero-output.h"
#include "nn/pointwise-conv.h"

ResidualCouplingLayerImpl::ResidualCouplingLayerImpl(int32_t channels, int32_t hidden_channels,
                                                     int32_t kernel_size, int32_t dilation_rate,
                                                     int32_t n_layers, int32_t gin_channels)
    : half_channels(channels / 2) {
  TORCH_CHECK(channels > 0 && channels % 2 == 0,
              "ResidualCouplingLayer: channels must be positive and even, got ", channels);
  pre = register_module(
      "pre", torch::nn::Conv1d(torch::nn::Conv1dOptions(half_channels, hidden_channels, 1)));
  post = register_module(
      "post", torch::nn::Conv1d(torch::nn::Conv1dOptions(hidden_channels, half_channels, 1)));
  // A zero shift makes a fresh layer the identity on the changed half.
  {
    torch::NoGradGuard no_grad;
    post->weight.zero_();
    post->bias.zero_();
  }
  enc = register_module(
      "enc", WaveNet(hidden_channels, kernel_size, dilation_rate, n_layers, gin_channels));
}

torch::Tensor ResidualCouplingLayerImpl::forward(const torch::Tensor &x,
                                                 const torch::Tensor &x_mask, bool reverse,
                                                 const torch::Tensor &g) {
  auto x0 = x.narrow(1, 0, half_channels);
  auto x1 = x.narrow(1, half_channels, half_channels);
  torch::Tensor m;
  if (skipped) {
    m = torch::zeros_like(x1);  // what post gives, masked or not
  } else {
    auto hidden = pointwise_conv(pre, x0) * x_mask;
    hidden = enc->forward(hidden, x_mask, g);
    m = pointwise_conv(post, hidden) * x_mask;
  }
  x1 = reverse ? (x1 - m) * x_mask : m + x1 * x_mask;
  return torch::cat({x0, x1}, 1);
}

bool ResidualCouplingLayerImpl::skip_if_identity(bool skip) {
  skipped = skip && outputs_positive_zero(post->weight, post->bias);
  return skipped;
}

int64_t FlowImpl::context_frames() const {
  int64_t frames = 0;
  for (const auto &layer : *flows)
    frames += layer->as<ResidualCouplingLayerImpl>()->enc->context_frames();
  return frames;
}

int FlowImpl::skip_identity_layers(bool skip) {
  int marked = 0;
  for (const auto &layer : *flows)
    marked += layer->as<ResidualCouplingLayerImpl>()->skip_if_identity(skip) ? 1 : 0;
  return marked;
}

FlowImpl::FlowImpl(int32_t channels, int32_t hidden_channels, int32_t kernel_size,
                   int32_t dilation_rate, int32_t n_layers, int32_t n_flows,
                   int32_t gin_channels)
    : n_flows(n_flows) {
  flows = register_module("flows", torch::nn::ModuleList());
  for (int32_t i = 0; i < n_flows; ++i) {
    flows->push_back(
        ResidualCouplingLayer(channels, hidden_channels, kernel_size, dilation_rate, n_layers,
                              gin_channels));
  }
}
