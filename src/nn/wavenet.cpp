#include "nn/wavenet.h"

#include <torch/torch.h>

#include <cmath>

#include "nn/wn-conv.h"

WaveNetImpl::WaveNetImpl(int32_t hidden_channels, int32_t kernel_size, int32_t dilation_rate,
                         int32_t n_layers, int32_t gin_channels)
    : hidden_channels(hidden_channels), n_layers(n_layers) {
  in_layers = register_module("in_layers", torch::nn::ModuleList());
  res_skip_layers = register_module("res_skip_layers", torch::nn::ModuleList());
  const int32_t h = hidden_channels;
  for (int32_t i = 0; i < n_layers; ++i) {
    const auto dilation = static_cast<int32_t>(std::pow(static_cast<double>(dilation_rate), i));
    const int32_t padding = (kernel_size - 1) * dilation / 2;
    in_layers->push_back(WNConv1d(h, 2 * h, kernel_size, 1, padding, dilation, 1));
    // The last layer has no residual path, only the skip half.
    const int32_t res_skip_channels = i < n_layers - 1 ? 2 * h : h;
    res_skip_layers->push_back(WNConv1d(h, res_skip_channels, 1, 1, 0, 1, 1));
  }
  if (gin_channels > 0)
    cond_layer = register_module("cond_layer", WNConv1d(gin_channels, 2 * h * n_layers, 1, 1, 0, 1, 1));
}

int64_t WaveNetImpl::context_frames() const {
  int64_t frames = 0;
  for (const auto &layer : *in_layers) frames += layer->as<WNConv1dImpl>()->padding;
  return frames;
}

void WaveNetImpl::use_bfloat16(bool on) {
  keep_bfloat16_copies(in_layers, on);
  keep_bfloat16_copies(res_skip_layers, on);
  bfloat16 = on;
}

torch::Tensor WaveNetImpl::forward(const torch::Tensor &x_in, const torch::Tensor &x_mask,
                                   const torch::Tensor &g) {
  const int64_t h = hidden_channels;
  auto x = x_in;
  auto output = torch::zeros_like(x);
  const auto conv_in = [this](const torch::Tensor &t) {
    return bfloat16 ? t.to(torch::kBFloat16) : t;
  };
  const torch::Tensor speaker = cond_layer && g.defined() ? cond_layer->forward(g) : torch::Tensor();
  for (int32_t i = 0; i < n_layers; ++i) {
    auto gates = in_layers->ptr<WNConv1dImpl>(i)->forward(conv_in(x)).to(torch::kFloat);
    if (speaker.defined()) gates = gates + speaker.narrow(1, 2 * h * i, 2 * h);
    auto acts = torch::tanh(gates.narrow(1, 0, h)) * torch::sigmoid(gates.narrow(1, h, h));
    auto rs = res_skip_layers->ptr<WNConv1dImpl>(i)->forward(conv_in(acts)).to(torch::kFloat);
    if (i < n_layers - 1) {
      x = (x + rs.narrow(1, 0, h)) * x_mask;
      output = output + rs.narrow(1, h, h);
    } else {
      output = output + rs;
    }
  }
  return output * x_mask;
}
