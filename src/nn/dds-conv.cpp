#include "nn/dds-conv.h"

#include <torch/torch.h>

#include <cmath>

#include "nn/layer-norm2.h"
#include "nn/pointwise-conv.h"

DDSConvImpl::DDSConvImpl(int32_t channels, int32_t kernel_size, int32_t n_layers)
    : n_layers(n_layers) {
  convs_sep = register_module("convs_sep", torch::nn::ModuleList());
  convs_1x1 = register_module("convs_1x1", torch::nn::ModuleList());
  norms_1 = register_module("norms_1", torch::nn::ModuleList());
  norms_2 = register_module("norms_2", torch::nn::ModuleList());
  for (int32_t i = 0; i < n_layers; ++i) {
    // The dilation base is 3 whatever the kernel width.
    const auto dilation = static_cast<int64_t>(std::pow(3.0, i));
    const auto padding = (kernel_size - 1) * dilation / 2;
    convs_sep->push_back(torch::nn::Conv1d(torch::nn::Conv1dOptions(channels, channels, kernel_size)
                                               .groups(channels)
                                               .dilation(dilation)
                                               .padding(padding)));
    convs_1x1->push_back(torch::nn::Conv1d(torch::nn::Conv1dOptions(channels, channels, 1)));
    norms_1->push_back(LayerNorm2(channels));
    norms_2->push_back(LayerNorm2(channels));
  }
}

torch::Tensor DDSConvImpl::forward(const torch::Tensor &x, const torch::Tensor &x_mask,
                                   const torch::Tensor &g) {
  auto out = g.defined() ? x + g : x;
  for (int32_t i = 0; i < n_layers; ++i) {
    auto y = convs_sep[i]->as<torch::nn::Conv1dImpl>()->forward(out * x_mask);
    y = torch::gelu(norms_1[i]->as<LayerNorm2Impl>()->forward(y));
    const auto pointwise = convs_1x1[i]->as<torch::nn::Conv1dImpl>();
    y = pointwise_conv(y, pointwise->weight, pointwise->bias);
    y = torch::gelu(norms_2[i]->as<LayerNorm2Impl>()->forward(y));
    out = out + y;
  }
  return out * x_mask;
}
