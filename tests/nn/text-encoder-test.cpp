// Text encoder: the parameter names the checkpoint binds by, and masking of padded tokens.
#include "nn/text-encoder.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Shape = std::vector<int64_t>;
using NamedShapes = std::vector<std::pair<std::string, Shape>>;

// Walk order: the encoder's lists one after another, each over all six layers.
NamedShapes expected_parameters() {
  NamedShapes all{{"emb.weight", {49, 192}}};
  const std::string prefix = "encoder.";
  for (int i = 0; i < 6; ++i) {
    const std::string layer = prefix + "attn_layers." + std::to_string(i) + ".";
    // A module's own parameters come before those of its children.
    all.push_back({layer + "emb_rel_k", {1, 9, 96}});
    all.push_back({layer + "emb_rel_v", {1, 9, 96}});
    for (const char *conv : {"conv_q", "conv_k", "conv_v", "conv_o"}) {
      all.push_back({layer + conv + ".weight", {192, 192, 1}});
      all.push_back({layer + conv + ".bias", {192}});
    }
  }
  auto norms = [&](const std::string &list) {
    for (int i = 0; i < 6; ++i) {
      const std::string layer = prefix + list + "." + std::to_string(i) + ".";
      all.push_back({layer + "gamma", {192}});
      all.push_back({layer + "beta", {192}});
    }
  };
  norms("norm_layers_1");
  for (int i = 0; i < 6; ++i) {
    const std::string layer = prefix + "ffn_layers." + std::to_string(i) + ".";
    all.push_back({layer + "conv_1.weight", {768, 192, 3}});
    all.push_back({layer + "conv_1.bias", {768}});
    all.push_back({layer + "conv_2.weight", {192, 768, 3}});
    all.push_back({layer + "conv_2.bias", {192}});
  }
  norms("norm_layers_2");
  all.push_back({"proj.weight", {384, 192, 1}});
  all.push_back({"proj.bias", {384}});
  return all;
}

TEST(TextEncoderParameters, NamesShapesAndOrder) {
  TextEncoder encoder;
  NamedShapes actual;
  for (const auto &p : encoder->named_parameters()) actual.push_back({p.key(), p.value().sizes().vec()});
  const auto expected = expected_parameters();
  ASSERT_EQ(actual.size(), 111u);
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(actual[i].first, expected[i].first) << "position " << i;
    EXPECT_EQ(actual[i].second, expected[i].second) << expected[i].first;
  }
  EXPECT_EQ(encoder->named_buffers().size(), 0u);
}

class TextEncoderForward : public ::testing::Test {
 protected:
  void SetUp() override {
    torch::manual_seed(11);
    encoder_->eval();
  }
  torch::NoGradGuard no_grad_;
  TextEncoder encoder_;
};

TEST_F(TextEncoderForward, ShapesAndFullMask) {
  auto ids = torch::randint(0, 49, {1, 12}, torch::kLong);
  auto out = encoder_(ids, torch::tensor({12}, torch::kLong));
  EXPECT_EQ(out.x.sizes(), (Shape{1, 192, 12}));
  EXPECT_EQ(out.m_p.sizes(), (Shape{1, 192, 12}));
  EXPECT_EQ(out.logs_p.sizes(), (Shape{1, 192, 12}));
  EXPECT_EQ(out.x_mask.sizes(), (Shape{1, 1, 12}));
  EXPECT_EQ(out.x_mask.scalar_type(), torch::kFloat);
  EXPECT_TRUE(torch::equal(out.x_mask, torch::ones({1, 1, 12})));
  EXPECT_TRUE(torch::isfinite(out.x).all().item<bool>());
}

// A shorter sequence padded into a batch: zero features beyond its length, and inside it the
// same result as encoding it alone (masked keys must not leak into the attention or the
// feed-forward convolutions).
TEST_F(TextEncoderForward, PaddedPositionsAreZeroAndDoNotLeak) {
  const int64_t t = 12, length = 7;
  auto ids = torch::randint(0, 49, {2, t}, torch::kLong);
  auto out = encoder_(ids, torch::tensor({t, length}, torch::kLong));
  EXPECT_TRUE(torch::equal(out.x_mask[1][0], (torch::arange(t) < length).to(torch::kFloat)));
  for (const auto &y : {out.x, out.m_p, out.logs_p})
    EXPECT_TRUE(torch::equal(y[1].slice(1, length), torch::zeros({192, t - length})));

  auto alone = encoder_(ids.slice(0, 1, 2).slice(1, 0, length), torch::tensor({length}, torch::kLong));
  auto full = encoder_(ids.slice(0, 0, 1), torch::tensor({t}, torch::kLong));
  EXPECT_TRUE(torch::allclose(out.x[1].slice(1, 0, length), alone.x[0], 1e-4, 1e-4));
  EXPECT_TRUE(torch::allclose(out.m_p[1].slice(1, 0, length), alone.m_p[0], 1e-4, 1e-4));
  EXPECT_TRUE(torch::allclose(out.logs_p[0], full.logs_p[0], 1e-4, 1e-4));
}

TEST_F(TextEncoderForward, RejectsBadInputWithException) {
  auto lengths = torch::tensor({3}, torch::kLong);
  EXPECT_THROW(encoder_(torch::tensor({{2, 49, 1}}, torch::kLong), lengths), c10::Error);
  EXPECT_THROW(encoder_(torch::tensor({{2, -1, 1}}, torch::kLong), lengths), c10::Error);
  EXPECT_THROW(encoder_(torch::zeros({1, 0}, torch::kLong), torch::tensor({0}, torch::kLong)), c10::Error);
  EXPECT_THROW(encoder_(torch::tensor({{2, 3, 1}}, torch::kLong), torch::tensor({3, 3}, torch::kLong)),
               c10::Error);
}

}  // namespace
