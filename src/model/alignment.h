#pragma once
// Hard monotonic alignment of tokens to decoder frames.

#include <torch/types.h>

// w_ceil [B, 1, N] frame counts -> attn [B, N, T], 1 where frame t belongs to
// token j: token j owns the frames after those of tokens 0..j-1. x_mask is unused.
torch::Tensor generate_path(const torch::Tensor &w_ceil, const torch::Tensor &x_mask);
