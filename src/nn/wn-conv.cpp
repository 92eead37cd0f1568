#include "nn/wn-conv.h"

#include <torch/torch.h>

WNConv1dImpl::WNConv1dImpl(int32_t in_channels, int32_t out_channels, int32_t kernel_size,
                           int32_t stride, int32_t padding, int32_t dilation, int32_t groups)
    : in_channels(in_channels),
      out_channels(out_channels),
      kernel_size(kernel_size),
      stride(stride),
      padding(padding),
      dilation(dilation),
      groups(groups) {
  weight = register_parameter("weight", torch::randn({out_channels, in_channels / groups, kernel_size}));
  bias = register_parameter("bias", torch::zeros({out_channels}));
}

torch::Tensor WNConv1dImpl::forward(const torch::Tensor &x) {
  return at::conv1d(x, weight, bias, {stride}, {padding}, {dilation}, groups);
}

WNConvTranspose1dImpl::WNConvTranspose1dImpl(int32_t in_channels, int32_t out_channels,
                                             int32_t kernel_size, int32_t stride, int32_t padding)
    : stride(stride), padding(padding) {
  weight = register_parameter("weight", torch::randn({in_channels, out_channels, kernel_size}));
  bias = register_parameter("bias", torch::zeros({out_channels}));
}

torch::Tensor WNConvTranspose1dImpl::forward(const torch::Tensor &x) {
  return at::conv_transpose1d(x, weight, bias, {stride}, {padding}, {0}, 1, {1});
}
