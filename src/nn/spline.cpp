#include "nn/spline.h"

#include <torch/torch.h>

#include <cmath>

namespace {

constexpr float kMinBinWidth = 0.001f;
constexpr float kMinBinHeight = 0.001f;
constexpr float kMinDerivative = 0.001f;
constexpr float kBinSearchEps = 1e-6f;
// A double scalar, as in training; the float kernels narrow it when adding.
constexpr double kLogEps = 1e-8;

using torch::indexing::Slice;

// Unnormalised derivative that softplus turns into slope 1 once kMinDerivative is added,
// so the spline meets the identity tails smoothly. Evaluated in single precision, which
// is how the trained model rounded it.
float end_derivative() {
  const float one_minus_min = 1.0f - kMinDerivative;
  return std::log(std::exp(one_minus_min) - 1.0f);
}

struct Bins {
  torch::Tensor knots;  // [M, K + 1], pinned to -b and b at the ends
  torch::Tensor sizes;  // [M, K], differences of the knots
};

// Softmax sizes, floored at min_size, laid out as knots across [-b, b].
Bins make_bins(const torch::Tensor &unnormalised, float min_size, int64_t num_bins, float b) {
  const float scale = 1.0f - static_cast<float>(num_bins) * min_size;
  auto sizes = min_size + scale * torch::softmax(unnormalised, -1);
  auto knots = torch::constant_pad_nd(torch::cumsum(sizes, -1), {1, 0}, 0.0);
  knots = 2 * b * knots + (-b);
  // Rounding in the cumulative sum would otherwise leave the ends off the tails.
  knots.index_put_({Slice(), 0}, -b);
  knots.index_put_({Slice(), num_bins}, b);
  sizes = knots.index({Slice(), Slice(1)}) - knots.index({Slice(), Slice(0, num_bins)});
  return {knots, sizes};
}

torch::Tensor at_bin(const torch::Tensor &t, const torch::Tensor &index) {
  return t.gather(-1, index).squeeze(-1);
}

// log of the derivative of the forward map at t, given the bin's parameters.
torch::Tensor log_derivative(const torch::Tensor &t, const torch::Tensor &tt,
                             const torch::Tensor &s, const torch::Tensor &d0,
                             const torch::Tensor &d1, const torch::Tensor &denominator) {
  auto numerator = s.pow(2) * (d1 * t.pow(2) + 2 * s * tt + d0 * (1 - t).pow(2));
  return torch::log(numerator) - 2 * torch::log(torch::abs(denominator) + kLogEps);
}

}  // namespace

torch::Tensor spline_bin_index(const torch::Tensor &knots, const torch::Tensor &values) {
  auto padded = knots.clone();
  padded.index({Slice(), -1}) += kBinSearchEps;
  return (values.unsqueeze(-1) >= padded).sum(-1) - 1;
}

SplineOutput spline_transform(const torch::Tensor &inputs, const torch::Tensor &widths,
                              const torch::Tensor &heights, const torch::Tensor &derivatives,
                              bool reverse, int64_t num_bins, float tail_bound) {
  auto inside = (inputs >= -tail_bound).logical_and(inputs <= tail_bound);
  auto outside = inside.logical_not();
  auto outputs = torch::zeros_like(inputs);
  auto logabsdet = torch::zeros_like(inputs);
  outputs.index_put_({outside}, inputs.index({outside}));
  if (!inside.any().item<bool>()) return {outputs, logabsdet};

  auto x = inputs.index({inside});
  // Boolean selection copies, so pinning the end derivatives leaves the caller's tensor alone.
  auto ud = derivatives.index({inside});
  const float end = end_derivative();
  ud.index_put_({Slice(), 0}, end);
  ud.index_put_({Slice(), num_bins}, end);

  const auto w = make_bins(widths.index({inside}), kMinBinWidth, num_bins, tail_bound);
  const auto h = make_bins(heights.index({inside}), kMinBinHeight, num_bins, tail_bound);
  auto d = kMinDerivative + torch::softplus(ud, 1, 20);

  auto b = spline_bin_index(reverse ? h.knots : w.knots, x).clamp(0, num_bins - 1).unsqueeze(-1);
  auto xk = at_bin(w.knots, b);
  auto wk = at_bin(w.sizes, b);
  auto yk = at_bin(h.knots, b);
  auto hk = at_bin(h.sizes, b);
  auto s = at_bin(h.sizes / w.sizes, b);
  auto d0 = at_bin(d, b);
  auto d1 = at_bin(d, b + 1);

  torch::Tensor result, lad;
  if (!reverse) {
    auto t = (x - xk) / wk;
    auto tt = t * (1 - t);
    auto numerator = hk * (s * t.pow(2) + d0 * tt);
    auto denominator = s + (d0 + d1 - 2 * s) * tt;
    result = yk + numerator / denominator;
    lad = log_derivative(t, tt, s, d0, d1, denominator);
  } else {
    auto dy = x - yk;
    auto q = d0 + d1 - 2 * s;
    auto a = hk * (s - d0) + dy * q;
    auto bq = hk * d0 - dy * q;
    auto c = -s * dy;
    // Rounding can push the discriminant of a near-double root below zero.
    auto discriminant = (bq.pow(2) - 4 * a * c).clamp_min(0);
    auto t = 2 * c / (-bq - torch::sqrt(discriminant));
    result = t * wk + xk;
    auto tt = t * (1 - t);
    auto denominator = s + q * tt;
    lad = -log_derivative(t, tt, s, d0, d1, denominator);
  }
  outputs.index_put_({inside}, result);
  logabsdet.index_put_({inside}, lad);
  return {outputs, logabsdet};
}
