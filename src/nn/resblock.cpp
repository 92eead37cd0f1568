#include "nn/resblock.h"

#include <torch/torch.h>

#include "nn/wn-conv.h"
#include "nn/zero-output.h"

namespace {
constexpr double kSlope = 0.1;
}  // namespace

ResBlockImpl::ResBlockImpl(int32_t channels, int32_t kernel_size,
                           const std::vector<int32_t> &dilations, int32_t type) {
  convs1 = register_module(type == 1 ? "convs1" : "convs", torch::nn::ModuleList());
  if (type == 1) convs2 = register_module("convs2", torch::nn::ModuleList());
  for (int32_t d : dilations) {
    convs1->push_back(
        WNConv1d(channels, channels, kernel_size, 1, d * (kernel_size - 1) / 2, d, 1));
    if (convs2)
      convs2->push_back(WNConv1d(channels, channels, kernel_size, 1, (kernel_size - 1) / 2, 1, 1));
  }
}

int64_t ResBlockImpl::context_samples() const {
  int64_t samples = 0;
  for (const auto &conv : *convs1) samples += conv->as<WNConv1dImpl>()->padding;
  if (convs2)
    for (const auto &conv : *convs2) samples += conv->as<WNConv1dImpl>()->padding;
  return samples;
}

void ResBlockImpl::use_bfloat16(bool on) {
  keep_bfloat16_copies(convs1, on);
  if (convs2) keep_bfloat16_copies(convs2, on);
  bfloat16 = on;
}

int ResBlockImpl::skip_identity_steps(bool skip) {
  skipped.assign(convs1->size(), false);
  int marked = 0;
  for (size_t n = 0; skip && n < convs1->size(); ++n) {
    // A step's last convolution decides: the second, or the only one of type 2.
    const auto conv = (convs2 ? convs2 : convs1)->ptr<WNConv1dImpl>(n);
    skipped[n] = outputs_positive_zero(conv->weight, conv->bias);
    marked += skipped[n] ? 1 : 0;
  }
  return marked;
}

torch::Tensor ResBlockImpl::forward(const torch::Tensor &x_in) {
  const auto compute_type = bfloat16 ? torch::kBFloat16 : torch::kFloat;
  auto x = x_in;
  for (size_t n = 0; n < convs1->size(); ++n) {
    torch::Tensor t;
    if (n < skipped.size() && skipped[n]) {
      // The +0 the convolutions would give: adding it turns -0 into +0, as they would.
      t = torch::zeros_like(x);
    } else {
      t = convs1->ptr<WNConv1dImpl>(n)->forward(torch::leaky_relu(x, kSlope).to(compute_type));
      if (convs2) t = convs2->ptr<WNConv1dImpl>(n)->forward(torch::leaky_relu_(t, kSlope));
    }
    // t is a fresh tensor (a new one in float32 when computed in bfloat16): sum into it.
    x = t.to(torch::kFloat).add_(x);
  }
  return x;
}
