#include "nn/hifigan-decoder.h"

#include <torch/torch.h>

#include <vector>

#include "nn/resblock.h"
#include "nn/wn-conv.h"

namespace {
constexpr int32_t kLatentChannels = 192;
constexpr int32_t kInitialChannels = 1024;
constexpr double kStageSlope = 0.1;
constexpr double kFinalSlope = 0.01;
}  // namespace

DecoderImpl::DecoderImpl() {
  conv_pre = register_module(
      "conv_pre", torch::nn::Conv1d(
                      torch::nn::Conv1dOptions(kLatentChannels, kInitialChannels, 7).padding(3)));
  ups = register_module("ups", torch::nn::ModuleList());
  resblocks = register_module("resblocks", torch::nn::ModuleList());
  const std::vector<int32_t> dilations(kResblockDilations.begin(), kResblockDilations.end());
  int32_t channels = kInitialChannels;
  for (size_t i = 0; i < kUpsampleRates.size(); ++i) {
    const int32_t kernel = kUpsampleKernels[i];
    const int32_t rate = kUpsampleRates[i];
    ups->push_back(WNConvTranspose1d(channels, channels / 2, kernel, rate, (kernel - rate) / 2));
    channels /= 2;
    for (int32_t resblock_kernel : kResblockKernels) {
      resblocks->push_back(ResBlock(channels, resblock_kernel, dilations));
    }
  }
  conv_post = register_module(
      "conv_post",
      torch::nn::Conv1d(torch::nn::Conv1dOptions(channels, 1, 7).padding(3).bias(false)));
}

torch::Tensor DecoderImpl::forward(const torch::Tensor &z) {
  const size_t n_kernels = kResblockKernels.size();
  auto x = conv_pre->forward(z);
  for (size_t i = 0; i < ups->size(); ++i) {
    x = ups->ptr<WNConvTranspose1dImpl>(i)->forward(torch::leaky_relu(x, kStageSlope));
    auto xs = torch::zeros_like(x);
    for (size_t j = 0; j < n_kernels; ++j) {
      xs = xs + resblocks->ptr<ResBlockImpl>(n_kernels * i + j)->forward(x);
    }
    x = xs / static_cast<float>(n_kernels);
  }
  x = conv_post->forward(torch::leaky_relu(x, kFinalSlope));
  return torch::tanh(x);
}
