#include "nn/duration-predictor.h"
#include "nn/pointwise-conv.h"

#include <torch/torch.h>

namespace {

torch::nn::Conv1d conv(int32_t in, int32_t out, int32_t kernel_size) {
  return torch::nn::Conv1d(torch::nn::Conv1dOptions(in, out, kernel_size).padding(kernel_size / 2));
}

}  // namespace

DurationPredictorImpl::DurationPredictorImpl(int32_t in_channels, int32_t filter_channels,
                                             int32_t kernel_size, int32_t gin_channels) {
  conv_1 = register_module("conv_1", conv(in_channels, filter_channels, kernel_size));
  norm_1 = register_module("norm_1", LayerNorm2(filter_channels));
  conv_2 = register_module("conv_2", conv(filter_channels, filter_channels, kernel_size));
  norm_2 = register_module("norm_2", LayerNorm2(filter_channels));
  proj = register_module("proj", conv(filter_channels, 1, 1));
  if (gin_channels > 0) cond = register_module("cond", conv(gin_channels, in_channels, 1));
}

torch::Tensor DurationPredictorImpl::forward(const torch::Tensor &x_in, const torch::Tensor &x_mask,
                                             const torch::Tensor &g) {
  auto x = cond && g.defined() ? x_in + cond->forward(g) : x_in;
  x = norm_1->forward(torch::relu(conv_1->forward(x * x_mask)));
  x = norm_2->forward(torch::relu(conv_2->forward(x * x_mask)));
  return pointwise_conv(proj, x * x_mask) * x_mask;
}
