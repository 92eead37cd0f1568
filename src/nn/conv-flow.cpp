#include "nn/conv-flow.h"

#include <torch/torch.h>

#include <cmath>

#include "nn/spline.h"
#include "nn/pointwise-conv.h"

ConvFlowImpl::ConvFlowImpl(int32_t in_channels, int32_t filter_channels, int32_t kernel_size,
                           int32_t n_layers, int32_t num_bins, float tail_bound)
    : num_bins(num_bins),
      half_channels(in_channels / 2),
      filter_channels(filter_channels),
      tail_bound(tail_bound) {
  using torch::nn::Conv1dOptions;
  pre = register_module("pre", torch::nn::Conv1d(Conv1dOptions(half_channels, filter_channels, 1)));
  convs = register_module("convs", DDSConv(filter_channels, kernel_size, n_layers));
  proj = register_module(
      "proj", torch::nn::Conv1d(Conv1dOptions(filter_channels, half_channels * (3 * num_bins - 1), 1)));
  // Zero until loaded, as the checkpoint's own initialisation had it: no random bins.
  torch::NoGradGuard no_grad;
  proj->weight.zero_();
  proj->bias.zero_();
}

torch::Tensor ConvFlowImpl::forward(const torch::Tensor &x, const torch::Tensor &x_mask,
                                    const torch::Tensor &g, bool reverse) {
  using torch::indexing::Ellipsis;
  using torch::indexing::Slice;
  const int64_t k = num_bins;
  // The bin logits were trained scaled by sqrt(filter channels).
  const float scale = std::sqrt(static_cast<float>(filter_channels));

  auto halves = torch::split(x, {half_channels, half_channels}, 1);
  const auto &x0 = halves[0];
  const auto &x1 = halves[1];
  auto h = pointwise_conv(pre, x0);
  h = convs->forward(h, x_mask, g);
  h = pointwise_conv(proj, h) * x_mask;

  const int64_t batch = h.size(0), time = h.size(2);
  h = h.reshape({batch, half_channels, 3 * k - 1, time}).permute({0, 1, 3, 2});
  const int64_t n = batch * half_channels * time;
  auto widths = (h.index({Ellipsis, Slice(0, k)}) / scale).reshape({n, k});
  auto heights = (h.index({Ellipsis, Slice(k, 2 * k)}) / scale).reshape({n, k});
  auto derivatives =
      torch::constant_pad_nd(h.index({Ellipsis, Slice(2 * k, 3 * k - 1)}), {1, 1}, 0.0)
          .reshape({n, k + 1});

  auto spline = spline_transform(x1.reshape({n}), widths, heights, derivatives, reverse, k,
                                 tail_bound);
  auto y1 = spline.outputs.reshape({batch, half_channels, time}) * x_mask;
  return torch::cat({x0, y1}, 1) * x_mask;
}
