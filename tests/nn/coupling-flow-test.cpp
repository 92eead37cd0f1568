#include "nn/coupling-flow.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Shape = std::vector<int64_t>;

// The model's coupling layer: channels 192, hidden 192, kernel 11, dilation rate 1, 8 layers.
ResidualCouplingLayer model_layer() { return ResidualCouplingLayer(192, 192, 11, 1, 8); }

void randomise(torch::nn::Module &m) {
  torch::NoGradGuard no_grad;
  for (auto &p : m.parameters()) p.normal_(0.0, 0.05);
}

torch::Tensor mask_of(int64_t length, int64_t valid) {
  auto mask = torch::zeros({1, 1, length});
  mask.narrow(2, 0, valid).fill_(1.0f);
  return mask;
}

TEST(ResidualCouplingLayer, ParametersFollowTheCheckpointNamesInOrder) {
  std::vector<std::pair<std::string, Shape>> expected = {
      {"pre.weight", {192, 96, 1}},
      {"pre.bias", {192}},
      {"post.weight", {96, 192, 1}},
      {"post.bias", {96}},
  };
  for (int i = 0; i < 8; ++i) {
    const auto p = "enc.in_layers." + std::to_string(i);
    expected.push_back({p + ".weight", {384, 192, 11}});
    expected.push_back({p + ".bias", {384}});
  }
  for (int i = 0; i < 8; ++i) {
    const auto p = "enc.res_skip_layers." + std::to_string(i);
    const int64_t out = i < 7 ? 384 : 192;
    expected.push_back({p + ".weight", {out, 192, 1}});
    expected.push_back({p + ".bias", {out}});
  }

  const auto params = model_layer()->named_parameters();
  ASSERT_EQ(params.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(params[i].key(), expected[i].first) << "at " << i;
    EXPECT_EQ(params[i].value().sizes().vec(), expected[i].second) << expected[i].first;
  }
}

TEST(ResidualCouplingLayer, PostStartsAtZeroSoReverseOnlyMasks) {
  torch::NoGradGuard no_grad;
  auto layer = model_layer();
  EXPECT_EQ(layer->post->weight.abs().sum().item<float>(), 0.0f);
  EXPECT_EQ(layer->post->bias.abs().sum().item<float>(), 0.0f);

  const auto x = torch::randn({1, 192, 9});
  const auto mask = mask_of(9, 6);
  const auto y = layer->forward(x, mask, true, torch::Tensor());
  EXPECT_TRUE(torch::equal(y.narrow(1, 0, 96), x.narrow(1, 0, 96)));
  EXPECT_TRUE(torch::equal(y.narrow(1, 96, 96), x.narrow(1, 96, 96) * mask));
}

TEST(ResidualCouplingLayer, FirstHalfPassesThroughInBothDirections) {
  torch::NoGradGuard no_grad;
  auto layer = model_layer();
  randomise(*layer);
  const auto x = torch::randn({1, 192, 9});
  const auto mask = mask_of(9, 6);
  for (bool reverse : {false, true}) {
    const auto y = layer->forward(x, mask, reverse, torch::Tensor());
    ASSERT_EQ(y.sizes(), x.sizes());
    EXPECT_TRUE(torch::equal(y.narrow(1, 0, 96), x.narrow(1, 0, 96))) << "reverse " << reverse;
    // The shift must actually act on the second half, or the round trip proves nothing.
    EXPECT_GT((y - x).narrow(2, 0, 6).abs().max().item<float>(), 1e-3f);
  }
}

TEST(ResidualCouplingLayer, ReverseUndoesForward) {
  torch::NoGradGuard no_grad;
  auto layer = model_layer();
  randomise(*layer);
  const auto x = torch::randn({2, 192, 11});
  const auto mask = torch::ones({2, 1, 11});
  const auto z = layer->forward(x, mask, false, torch::Tensor());
  const auto back = layer->forward(z, mask, true, torch::Tensor());
  EXPECT_LT((back - x).abs().max().item<float>(), 1e-5f);
}

TEST(ResidualCouplingLayer, OddChannelCountIsRefused) {
  EXPECT_THROW(ResidualCouplingLayer(191, 192, 11, 1, 8), c10::Error);
}

TEST(Flow, HoldsItsCouplingLayersUnderIndexedNames) {
  Flow flow(192, 192, 11, 1, 8, 4);
  EXPECT_EQ(flow->n_flows, 4);
  ASSERT_EQ(flow->flows->size(), 4u);
  EXPECT_NE(flow->flows->ptr<ResidualCouplingLayerImpl>(3), nullptr);

  const auto params = flow->named_parameters();
  ASSERT_EQ(params.size(), 4u * 36u);
  EXPECT_EQ(params[0].key(), "flows.0.pre.weight");
  EXPECT_EQ(params[36].key(), "flows.1.pre.weight");
  EXPECT_EQ(params[params.size() - 1].key(), "flows.3.enc.res_skip_layers.7.bias");
}

}  // namespace
