// Rational-quadratic spline: identity configuration, invertibility, the pinned ends and
// tails, and the bin search.
#include "nn/spline.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <cmath>
#include <limits>

namespace {

constexpr int64_t kBins = 10;

struct SplineParams {
  torch::Tensor widths, heights, derivatives;
};

// Unnormalised derivative that yields slope 1 after softplus and the 0.001 floor.
float unit_slope_derivative() { return std::log(std::exp(0.999f) - 1.0f); }

SplineParams identity_params(int64_t n) {
  return {torch::full({n, kBins}, 0.3f), torch::full({n, kBins}, -1.2f),
          torch::full({n, kBins + 1}, unit_slope_derivative())};
}

// Larger spreads give near-flat bins whose inverse float32 cannot resolve.
SplineParams random_params(int64_t n, uint64_t seed, float spread = 2.0f) {
  auto gen = at::detail::createCPUGenerator(seed);
  return {torch::randn({n, kBins}, gen) * spread, torch::randn({n, kBins}, gen) * spread,
          torch::randn({n, kBins + 1}, gen) * spread};
}

SplineOutput run(const torch::Tensor &x, const SplineParams &p, bool reverse) {
  return spline_transform(x, p.widths, p.heights, p.derivatives, reverse, kBins);
}

TEST(Spline, EqualBinsAndUnitSlopesGiveIdentity) {
  auto x = torch::linspace(-5, 5, 101);
  const auto p = identity_params(x.size(0));
  for (bool reverse : {false, true}) {
    auto out = run(x, p, reverse);
    EXPECT_TRUE(torch::allclose(out.outputs, x, 0, 1e-5)) << "reverse=" << reverse;
    EXPECT_LT(out.logabsdet.abs().max().item<float>(), 1e-5) << "reverse=" << reverse;
  }
}

TEST(Spline, ZeroParametersAreNotTheIdentity) {
  // Inner knot slopes are then 0.001 + log 2, not 1.
  auto x = torch::tensor({-3.3f, 0.7f, 2.9f});
  auto zeros = torch::zeros({3, kBins});
  auto out = spline_transform(x, zeros, zeros, torch::zeros({3, kBins + 1}), false, kBins);
  EXPECT_GT((out.outputs - x).abs().max().item<float>(), 1e-3);
}

TEST(Spline, ReverseUndoesForwardWithOppositeLogDeterminant) {
  const int64_t n = 2000;
  auto x = torch::rand({n}, at::detail::createCPUGenerator(5)) * 10 - 5;
  const auto p = random_params(n, 11, 0.5f);
  auto fwd = run(x, p, false);
  auto back = run(fwd.outputs, p, true);
  const float max_err = (back.outputs - x).abs().max().item<float>();
  EXPECT_LT(max_err, 2e-5) << "at " << (back.outputs - x).abs().argmax().item<int64_t>();
  EXPECT_TRUE(torch::allclose(fwd.logabsdet, -back.logabsdet, 0, 2e-5));
  EXPECT_GT(fwd.logabsdet.abs().max().item<float>(), 1.0f);  // a far from trivial map
}

TEST(Spline, EndsArePinnedInBothDirections) {
  auto x = torch::tensor({-5.0f, 5.0f});
  const auto p = random_params(2, 3);
  for (bool reverse : {false, true}) {
    auto out = run(x, p, reverse);
    EXPECT_TRUE(torch::equal(out.outputs, x)) << "reverse=" << reverse;
  }
}

TEST(Spline, OutsideValuesAndNaNPassThrough) {
  const float inf = std::numeric_limits<float>::infinity();
  auto x = torch::tensor({-5.0001f, 5.0001f, -1e30f, 7.5f, inf, -inf, 0.5f,
                          std::numeric_limits<float>::quiet_NaN()});
  const auto p = random_params(x.size(0), 4);
  for (bool reverse : {false, true}) {
    auto out = run(x, p, reverse);
    auto outside = torch::arange(6);
    EXPECT_TRUE(torch::equal(out.outputs.index({outside}), x.index({outside})));
    EXPECT_TRUE(std::isnan(out.outputs[7].item<float>()));
    EXPECT_EQ(out.logabsdet[7].item<float>(), 0.0f);
    EXPECT_TRUE(torch::equal(out.logabsdet.index({outside}), torch::zeros({6})));
    EXPECT_NE(out.logabsdet[6].item<float>(), 0.0f);  // the inside value is transformed
  }
}

TEST(Spline, AllOutsideSkipsTheSplineArithmetic) {
  // Undefined parameter tensors would throw if the spline were evaluated at all.
  auto x = torch::tensor({-6.0f, 9.0f});
  auto out = spline_transform(x, torch::Tensor(), torch::Tensor(), torch::Tensor(), true, kBins);
  EXPECT_TRUE(torch::equal(out.outputs, x));
  EXPECT_TRUE(torch::equal(out.logabsdet, torch::zeros({2})));
}

TEST(Spline, CallerDerivativesAreNotModified) {
  const auto p = random_params(4, 8);
  auto before = p.derivatives.clone();
  run(torch::tensor({-4.0f, -1.0f, 2.0f, 4.5f}), p, false);
  run(torch::tensor({-4.0f, -1.0f, 2.0f, 4.5f}), p, true);
  EXPECT_TRUE(torch::equal(p.derivatives, before));
}

TEST(Spline, BinIndexPlacesKnotValuesInTheBinStartingThere) {
  auto knots = torch::tensor({-5.0f, -3.5f, 0.0f, 1.25f, 5.0f}).repeat({7, 1});
  auto values = torch::tensor({-5.0f, -3.5f, 0.0f, 1.25f, 5.0f, -4.0f, -5.5f});
  auto bins = spline_bin_index(knots, values);
  EXPECT_EQ(bins.scalar_type(), torch::kInt64);
  // The right end belongs to the last bin; below the first knot is -1 (callers clamp).
  EXPECT_TRUE(torch::equal(bins, torch::tensor({0, 1, 2, 3, 3, 0, -1}, torch::kInt64)));
  EXPECT_EQ(knots[0][4].item<float>(), 5.0f);  // the search works on a copy
}

}  // namespace
