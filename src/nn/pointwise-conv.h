#pragma once
// Convolutions of kernel 1 as matrix products. libtorch runs such a convolution
// on oneDNN only when the calling thread may use more than one thread, and on
// its own loops otherwise, which round differently: a request's samples would
// then depend on how many threads it got, that is on the requests running
// beside it. A matrix product rounds the same whatever the thread count.

#include <torch/nn/modules/conv.h>
#include <torch/types.h>

// x [B, in, T], weight [out, in, 1], bias [out] or undefined -> [B, out, T].
// Other kernels or a dtype other than the weight's go to libtorch's convolution.
torch::Tensor pointwise_conv(const torch::Tensor &x, const torch::Tensor &weight,
                             const torch::Tensor &bias);

// The same for a module of kernel 1, stride 1 and no padding.
torch::Tensor pointwise_conv(const torch::nn::Conv1d &conv, const torch::Tensor &x);
