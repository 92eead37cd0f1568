#include "nn/pointwise-conv.h"

#include <torch/torch.h>

torch::Tensor pointwise_conv(const torch::Tensor &x, const torch::Tensor &weight,
                             const torch::Tensor &bias) {
  if (weight.dim() != 3 || weight.size(2) != 1 || x.dim() != 3 ||
      x.scalar_type() != weight.scalar_type())
    return at::conv1d(x, weight, bias);
  const auto matrix = weight.squeeze(2);
  if (x.size(0) == 1) {
    const auto y = bias.defined() ? at::addmm(bias.unsqueeze(1), matrix, x[0]) : at::mm(matrix, x[0]);
    return y.unsqueeze(0);
  }
  const auto y = at::matmul(matrix, x);
  return bias.defined() ? y + bias.view({1, -1, 1}) : y;
}

torch::Tensor pointwise_conv(const torch::nn::Conv1d &conv, const torch::Tensor &x) {
  return pointwise_conv(x, conv->weight, conv->bias);
}
