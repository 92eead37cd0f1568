// The band operations and the whole attention against a direct per-(i, j) evaluation.
#include "nn/relative-attention.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <cmath>
#include <vector>

namespace {

constexpr int kChannels = 192, kHeads = 2, kWindow = 4;

class RelativeAttention : public ::testing::TestWithParam<int64_t> {
 protected:
  void SetUp() override { torch::manual_seed(7); }
  torch::NoGradGuard no_grad_;
};

TEST_P(RelativeAttention, AddBandAddsEachOffsetOnItsDiagonal) {
  const int64_t t = GetParam();
  auto band = torch::randn({2, 3, t, 2 * kWindow + 1});
  auto x = torch::randn({2, 3, t, t});
  const auto before = x.clone();
  RelativeMultiHeadAttentionImpl::add_band_(x, band);
  auto a = x.accessor<float, 4>(), x0 = before.accessor<float, 4>(), r = band.accessor<float, 4>();
  for (int64_t b = 0; b < 2; ++b)
    for (int64_t h = 0; h < 3; ++h)
      for (int64_t i = 0; i < t; ++i)
        for (int64_t j = 0; j < t; ++j) {
          const int64_t offset = j - i;
          const float added = std::abs(offset) <= kWindow ? r[b][h][i][offset + kWindow] : 0.0f;
          ASSERT_EQ(a[b][h][i][j], x0[b][h][i][j] + added) << i << ", " << j;
        }
}

TEST_P(RelativeAttention, BandOfReadsEachOffsetFromItsDiagonal) {
  const int64_t t = GetParam();
  auto x = torch::randn({2, 3, t, t});
  auto band = RelativeMultiHeadAttentionImpl::band_of(x, kWindow);
  ASSERT_EQ(band.sizes(), (std::vector<int64_t>{2, 3, t, 2 * kWindow + 1}));
  auto a = x.accessor<float, 4>();
  auto r = band.accessor<float, 4>();
  for (int64_t b = 0; b < 2; ++b)
    for (int64_t h = 0; h < 3; ++h)
      for (int64_t i = 0; i < t; ++i)
        for (int64_t k = 0; k < 2 * kWindow + 1; ++k) {
          const int64_t j = i + k - kWindow;
          ASSERT_EQ(r[b][h][i][k], j >= 0 && j < t ? a[b][h][i][j] : 0.0f) << i << ", " << k;
        }
}

// Direct evaluation in double: score(i, j) = q_i . (k_j + e_k[j - i]) / sqrt(D) inside the
// window, q_i . k_j / sqrt(D) outside, -1e4 where i or j is masked;
// output_i = sum_j p(i, j) (v_j + e_v[j - i]).
torch::Tensor naive_attention(RelativeMultiHeadAttentionImpl &attn, const torch::Tensor &x,
                              const torch::Tensor &seq_mask) {
  const int64_t b_size = x.size(0), t = x.size(2), d = attn.k_channels;
  auto split = [&](const torch::Tensor &y) {
    return y.to(torch::kDouble).reshape({b_size, attn.n_heads, d, t});
  };
  auto q = split(attn.conv_q(x)), k = split(attn.conv_k(x)), v = split(attn.conv_v(x));
  auto ek = attn.emb_rel_k[0].to(torch::kDouble), ev = attn.emb_rel_v[0].to(torch::kDouble);
  auto out = torch::zeros({b_size, attn.n_heads, d, t}, torch::kDouble);
  const double scale = std::sqrt(static_cast<double>(d));
  for (int64_t b = 0; b < b_size; ++b)
    for (int64_t h = 0; h < attn.n_heads; ++h)
      for (int64_t i = 0; i < t; ++i) {
        std::vector<double> s(t);
        double max_s = -1e30;
        for (int64_t j = 0; j < t; ++j) {
          auto key = k[b][h].select(1, j);
          if (std::abs(j - i) <= attn.window_size) key = key + ek[j - i + attn.window_size];
          const bool masked =
              seq_mask[b][i].item<float>() == 0 || seq_mask[b][j].item<float>() == 0;
          s[j] = masked ? -1e4 : (q[b][h].select(1, i) * key).sum().item<double>() / scale;
          max_s = std::max(max_s, s[j]);
        }
        double total = 0;
        for (auto &e : s) total += (e = std::exp(e - max_s));
        for (int64_t j = 0; j < t; ++j) {
          auto value = v[b][h].select(1, j);
          if (std::abs(j - i) <= attn.window_size) value = value + ev[j - i + attn.window_size];
          out[b][h].select(1, i) += value * (s[j] / total);
        }
      }
  return attn.conv_o(out.reshape({b_size, attn.channels, t}).to(torch::kFloat));
}

TEST_P(RelativeAttention, MatchesNaiveLoop) {
  const int64_t t = GetParam();
  RelativeMultiHeadAttention attn(kChannels, kHeads, kWindow);
  auto x = torch::randn({2, kChannels, t});
  auto seq_mask = torch::ones({2, t});
  EXPECT_TRUE(
      torch::allclose(attn(x, torch::Tensor()), naive_attention(*attn, x, seq_mask), 1e-4, 1e-4));

  // The second sequence is shorter: positions from `length` on are masked as keys and queries.
  const int64_t length = (t + 1) / 2;
  seq_mask[1].slice(0, length).zero_();
  auto x_mask = seq_mask.unsqueeze(1);
  auto attn_mask = x_mask.unsqueeze(2) * x_mask.unsqueeze(-1);
  auto got = attn(x, attn_mask);
  auto want = naive_attention(*attn, x, seq_mask);
  EXPECT_TRUE(torch::allclose(got, want, 1e-4, 1e-4))
      << "max diff " << (got - want).abs().max().item<float>();
}

INSTANTIATE_TEST_SUITE_P(Lengths, RelativeAttention, ::testing::Values(1, 5, 12));

TEST(RelativeAttentionSingleToken, AttendsOnlyToItself) {
  torch::NoGradGuard no_grad;
  RelativeMultiHeadAttention attn(kChannels, kHeads, kWindow);
  auto x = torch::randn({1, kChannels, 1});
  // One key: the softmax is 1, so the output is conv_o(v + e_v[offset 0]) whatever q is.
  auto v = attn->conv_v(x).reshape({1, kHeads, kChannels / kHeads, 1});
  v = v + attn->emb_rel_v[0][kWindow].reshape({1, 1, -1, 1});
  auto expected = attn->conv_o(v.reshape({1, kChannels, 1}));
  EXPECT_TRUE(torch::allclose(attn(x, torch::ones({1, 1, 1, 1})), expected, 1e-5, 1e-5));
}

}  // namespace
