#include "nn/wn-conv.h"

#include <torch/torch.h>

#include "nn/pointwise-conv.h"
#include "nn/random-start.h"

WNConv1dImpl::WNConv1dImpl(int32_t in_channels, int32_t out_channels, int32_t kernel_size,
                           int32_t stride, int32_t padding, int32_t dilation, int32_t groups)
    : in_channels(in_channels),
      out_channels(out_channels),
      kernel_size(kernel_size),
      stride(stride),
      padding(padding),
      dilation(dilation),
      groups(groups) {
  weight =
      register_parameter("weight", random_start({out_channels, in_channels / groups, kernel_size}));
  bias = register_parameter("bias", torch::zeros({out_channels}));
}

torch::Tensor WNConv1dImpl::forward(const torch::Tensor &x) {
  const bool bf16 = x.scalar_type() == torch::kBFloat16 && weight_bf16.defined();
  if (kernel_size == 1 && stride == 1 && padding == 0 && groups == 1 && !bf16)
    return pointwise_conv(x, weight, bias);
  return at::conv1d(x, bf16 ? weight_bf16 : weight, bf16 ? bias_bf16 : bias, {stride}, {padding},
                    {dilation}, groups);
}

void WNConv1dImpl::keep_bfloat16_copy(bool keep) {
  weight_bf16 = keep ? weight.detach().to(torch::kBFloat16) : torch::Tensor();
  bias_bf16 = keep ? bias.detach().to(torch::kBFloat16) : torch::Tensor();
}

void keep_bfloat16_copies(const torch::nn::ModuleList &convs, bool keep) {
  for (const auto &conv : *convs) conv->as<WNConv1dImpl>()->keep_bfloat16_copy(keep);
}

WNConvTranspose1dImpl::WNConvTranspose1dImpl(int32_t in_channels, int32_t out_channels,
                                             int32_t kernel_size, int32_t stride, int32_t padding)
    : stride(stride), padding(padding) {
  weight = register_parameter("weight", random_start({in_channels, out_channels, kernel_size}));
  bias = register_parameter("bias", torch::zeros({out_channels}));
}

torch::Tensor WNConvTranspose1dImpl::forward(const torch::Tensor &x) {
  return at::conv_transpose1d(x, weight, bias, {stride}, {padding}, {0}, 1, {1});
}
