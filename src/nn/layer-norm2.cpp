#include "nn/layer-norm2.h"

#include <torch/torch.h>

LayerNorm2Impl::LayerNorm2Impl(int32_t channels) : channels(channels) {
  gamma = register_parameter("gamma", torch::ones({channels}));
  beta = register_parameter("beta", torch::zeros({channels}));
}

torch::Tensor LayerNorm2Impl::forward(const torch::Tensor &x) {
  auto y = at::layer_norm(x.transpose(1, 2), {channels}, gamma, beta, 1e-5);
  return y.transpose(1, 2);
}
