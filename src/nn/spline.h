#pragma once
// Monotone rational-quadratic spline on [-b, b] (b = 5 by default) with identity tails, one spline per
// input value; the invertible element-wise map inside the duration predictor's flows.

#include <torch/types.h>

#include <cstdint>

struct SplineOutput {
  torch::Tensor outputs;    // [N]
  torch::Tensor logabsdet;  // [N], log |df/dx| forward, log |df^-1/dy| in reverse
};

// inputs [N]; widths, heights [N, num_bins] and derivatives [N, num_bins + 1], all
// unnormalised. Only the inner derivative columns are used: the end columns are
// replaced on a copy, the caller's tensor stays untouched. Values outside
// [-tail_bound, tail_bound] (and NaN) pass through with logabsdet 0. reverse
// computes f^-1 instead of f.
SplineOutput spline_transform(const torch::Tensor &inputs, const torch::Tensor &widths,
                              const torch::Tensor &heights, const torch::Tensor &derivatives,
                              bool reverse, int64_t num_bins, float tail_bound = 5.0f);

// knots [M, K + 1] increasing, values [M] -> int64 [M]: the bin whose left knot is the
// last one <= value. A value on a knot belongs to the bin starting there; the right end
// counts as inside the last bin. Values below the first knot give -1.
torch::Tensor spline_bin_index(const torch::Tensor &knots, const torch::Tensor &values);
