// Parameter layout of the weight-normalised convolutions and the naming of list children.
#include "nn/wn-conv.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <string>
#include <vector>

namespace {

using Shape = std::vector<int64_t>;

TEST(WNConv1d, ParameterShapes) {
  WNConv1d conv(192, 384, 11, 1, 5, 1, 1);
  auto params = conv->named_parameters();
  EXPECT_EQ(params.keys(), (std::vector<std::string>{"weight", "bias"}));
  EXPECT_EQ(params["weight"].sizes(), (Shape{384, 192, 11}));
  EXPECT_EQ(params["bias"].sizes(), (Shape{384}));

  WNConv1d grouped(192, 384, 3, 1, 1, 1, 2);
  EXPECT_EQ(grouped->weight.sizes(), (Shape{384, 96, 3}));
}

TEST(WNConv1d, PaddingAndDilationKeepLength) {
  torch::NoGradGuard no_grad;
  WNConv1d conv(4, 6, 3, 1, 3, 3, 1);
  EXPECT_EQ(conv(torch::randn({1, 4, 17})).sizes(), (Shape{1, 6, 17}));
}

TEST(WNConvTranspose1d, ParameterShapesAndUpsampling) {
  torch::NoGradGuard no_grad;
  WNConvTranspose1d up(1024, 512, 16, 8, 4);
  auto params = up->named_parameters();
  EXPECT_EQ(params.keys(), (std::vector<std::string>{"weight", "bias"}));
  EXPECT_EQ(params["weight"].sizes(), (Shape{1024, 512, 16}));
  EXPECT_EQ(params["bias"].sizes(), (Shape{512}));
  // Kernel 2 * stride with padding stride / 2 gives exactly stride samples per input frame.
  EXPECT_EQ(up(torch::randn({1, 1024, 7})).sizes(), (Shape{1, 512, 56}));
}

TEST(ModuleListNaming, ChildrenNamedByIndexInOrder) {
  struct Holder : torch::nn::Module {
    Holder() {
      in_layers = register_module("in_layers", torch::nn::ModuleList());
      in_layers->push_back(WNConv1d(4, 8, 3, 1, 1, 1, 1));
      in_layers->push_back(WNConv1d(8, 8, 3, 1, 1, 1, 1));
    }
    torch::nn::ModuleList in_layers{nullptr};
  };
  Holder holder;
  std::vector<std::string> names;
  for (const auto &p : holder.named_parameters()) names.push_back(p.key());
  EXPECT_EQ(names, (std::vector<std::string>{"in_layers.0.weight", "in_layers.0.bias",
                                             "in_layers.1.weight", "in_layers.1.bias"}));
  EXPECT_EQ(holder.in_layers->ptr<WNConv1dImpl>(1)->in_channels, 8);
}

}  // namespace
