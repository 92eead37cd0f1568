#pragma once
// Hard monotonic alignment of tokens to decoder frames.

#include <torch/types.h>

// w_ceil [B, 1, N] frame counts -> attn [B, N, T], 1 where frame t belongs to
// token j: token j owns the frames after those of tokens 0..j-1. x_mask is unused.
torch::Tensor generate_path(const torch::Tensor &w_ceil, const torch::Tensor &x_mask);

// The prior at frame rate: frame t of the result is column j of `token_stats`
// [1, C, N] for the token j that owns it, zeros for a frame no token owns. Equal
// to bmm(token_stats, generate_path(w_ceil, ...)) for finite values, without the
// [N, T] matrix.
torch::Tensor expand_to_frames(const torch::Tensor &token_stats, const torch::Tensor &w_ceil,
                               int64_t frames);
