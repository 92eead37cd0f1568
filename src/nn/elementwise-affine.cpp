#include "nn/elementwise-affine.h"

#include <torch/torch.h>

ElementwiseAffineImpl::ElementwiseAffineImpl(int32_t channels) {
  translation = register_parameter("translation", torch::zeros({channels, 1}));
  log_scale = register_parameter("log_scale", torch::zeros({channels, 1}));
}

torch::Tensor ElementwiseAffineImpl::reverse(const torch::Tensor &x, const torch::Tensor &x_mask) {
  auto scale = torch::exp(-log_scale);
  return (x - translation) * scale * x_mask;
}
