#include "nn/stochastic-duration-predictor.h"

#include <torch/torch.h>

#include <cstdio>

#include "log/log.h"
#include "nn/conv-flow.h"
#include "nn/debug-dump.h"
#include "nn/elementwise-affine.h"
#include "nn/pointwise-conv.h"

namespace {

constexpr int32_t kFlowChannels = 2;

torch::nn::Conv1d conv_1x1(int32_t in, int32_t out) {
  return torch::nn::Conv1d(torch::nn::Conv1dOptions(in, out, 1));
}

// Entry 0 the affine step, then the spline flows; the channel flips live in forward.
// Inference never runs flows[1]: without `first_spline` it is a placeholder without
// parameters, so that the later flows keep their indices.
torch::nn::ModuleList make_flows(const DurationPredictorSizes &s, bool first_spline) {
  torch::nn::ModuleList flows;
  flows->push_back(ElementwiseAffine(kFlowChannels));
  for (int32_t i = 0; i < s.n_flows; ++i) {
    if (i == 0 && !first_spline) {
      flows->push_back(torch::nn::Identity());
      continue;
    }
    flows->push_back(ConvFlow(kFlowChannels, s.filter_channels, s.kernel_size, s.n_dds_layers,
                              s.num_bins, s.tail_bound));
  }
  return flows;
}

void print_first_group(const torch::Tensor &z, const torch::Tensor &h) {
  const bool stats = log_enabled(LogLevel::kInfo);
  if (stats) {
    log_line(LogLevel::kInfo, "[sdp] h stats: min=%.3f max=%.3f mean=%.3f", h.min().item<float>(),
             h.max().item<float>(), h.mean().item<float>());
    log_line(LogLevel::kInfo, "[sdp] noise init: min=%.3f max=%.3f", z.min().item<float>(),
             z.max().item<float>());
  }
  dump_raw("C:/tmp/sdp_noise.bin", z);
  dump_raw("C:/tmp/sdp_h.bin", h);
  if (stats)
    log_line(LogLevel::kInfo, "[sdp] Saved noise [%ld,%ld,%ld] h [%ld,%ld,%ld]",
             static_cast<long>(z.size(0)), static_cast<long>(z.size(1)),
             static_cast<long>(z.size(2)), static_cast<long>(h.size(0)),
             static_cast<long>(h.size(1)), static_cast<long>(h.size(2)));
}

void print_step(int step, int flow, const torch::Tensor &z) {
  char path[64];
  snprintf(path, sizeof path, "C:/tmp/sdp_step%d.bin", step);
  dump_raw(path, z);
  if (log_enabled(LogLevel::kInfo))
    log_line(LogLevel::kInfo, "[sdp] step%d flow[%d]: [0,:,0]= %.6f %.6f", step, flow,
             z.index({0, 0, 0}).item<float>(), z.index({0, 1, 0}).item<float>());
}

}  // namespace

StochasticDurationPredictorImpl::StochasticDurationPredictorImpl(
    int32_t in_channels, const DurationPredictorSizes &s, int32_t gin_channels)
    : n_flows(s.n_flows) {
  const int32_t filter = s.filter_channels;
  pre = register_module("pre", conv_1x1(in_channels, filter));
  convs = register_module("convs", DDSConv(filter, s.kernel_size, s.n_dds_layers));
  proj = register_module("proj", conv_1x1(filter, filter));
  flows = register_module("flows", make_flows(s, s.training_parts));
  if (s.training_parts) {
    post_pre = register_module("post_pre", conv_1x1(1, filter));
    post_convs = register_module("post_convs", DDSConv(filter, s.kernel_size, s.n_dds_layers));
    post_proj = register_module("post_proj", conv_1x1(filter, filter));
    post_flows = register_module("post_flows", make_flows(s, true));
  }
  if (gin_channels > 0) cond = register_module("cond", conv_1x1(gin_channels, filter));
}

std::vector<int> StochasticDurationPredictorImpl::flow_order() const {
  std::vector<int> order;
  for (int k = n_flows; k >= 2; --k) order.push_back(k);
  order.push_back(0);
  return order;
}

torch::Tensor StochasticDurationPredictorImpl::forward(const torch::Tensor &x,
                                                       const torch::Tensor &x_mask,
                                                       float noise_scale, at::Generator generator,
                                                       const torch::Tensor &g) {
  using torch::indexing::Slice;
  auto h = pointwise_conv(pre, x);
  if (cond && g.defined()) h = h + cond->forward(g);
  h = convs->forward(h, x_mask, torch::Tensor());
  h = pointwise_conv(proj, h) * x_mask;

  auto z =
      torch::randn({x.size(0), kFlowChannels, x.size(2)}, generator, x.options()) * noise_scale;
  print_first_group(z, h);

  const std::vector<int> order = flow_order();
  for (size_t step = 0; step < order.size(); ++step) {
    const int k = order[step];
    z = torch::flip(z, {1});
    if (k != 0) {
      z = flows[k]->as<ConvFlowImpl>()->forward(z, x_mask, h, true);
    } else {
      z = flows[0]->as<ElementwiseAffineImpl>()->reverse(z, x_mask);
    }
    print_step(static_cast<int>(step), k, z);
  }
  return z.index({Slice(), Slice(0, 1), Slice()}) * x_mask;
}
