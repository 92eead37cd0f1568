#include "nn/hifigan-decoder.h"

#include <ATen/record_function.h>
#include <torch/torch.h>

#include <algorithm>
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
      "conv_pre",
      torch::nn::Conv1d(torch::nn::Conv1dOptions(kLatentChannels, kInitialChannels, 7).padding(3)));
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

void DecoderImpl::use_bfloat16(bool on) {
  for (const auto &block : *resblocks) block->as<ResBlockImpl>()->use_bfloat16(on);
}

int DecoderImpl::skip_identity_steps(bool skip) {
  int marked = 0;
  for (const auto &block : *resblocks)
    marked += block->as<ResBlockImpl>()->skip_identity_steps(skip);
  return marked;
}

DecoderImpl::Reaches DecoderImpl::reaches() const {
  const size_t n_kernels = kResblockKernels.size();
  Reaches out{};
  // Walk back from one output sample, in samples of each stage's rate.
  int64_t reach = conv_post->options.kernel_size()->at(0) / 2;
  for (size_t i = kUpsampleRates.size(); i-- > 0;) {
    out[i] = reach;
    int64_t widest = 0;
    for (size_t j = 0; j < n_kernels; ++j)
      widest = std::max(widest, resblocks->ptr<ResBlockImpl>(n_kernels * i + j)->context_samples());
    reach += widest;
    // A transposed convolution output reads the inputs within (reach + kernel) / stride.
    const auto up = ups->ptr<WNConvTranspose1dImpl>(i);
    const int64_t kernel = up->weight.size(2);
    reach = (reach + kernel + up->stride - 1) / up->stride;
  }
  out.back() = reach + conv_pre->options.kernel_size()->at(0) / 2;
  return out;
}

int64_t DecoderImpl::context_frames() const { return reaches().back(); }

torch::Tensor DecoderImpl::forward(const torch::Tensor &z) {
  return forward_frames(z, 0, z.size(2));
}

torch::Tensor DecoderImpl::forward_frames(const torch::Tensor &z, int64_t begin, int64_t end) {
  static constexpr const char *kUpScopes[] = {"korva::decoder.up0", "korva::decoder.up1",
                                              "korva::decoder.up2", "korva::decoder.up3"};
  static constexpr const char *kResScopes[] = {"korva::decoder.res0", "korva::decoder.res1",
                                               "korva::decoder.res2", "korva::decoder.res3"};
  const size_t n_kernels = kResblockKernels.size();
  const auto reach = reaches();
  torch::Tensor x;
  {
    RECORD_USER_SCOPE("korva::decoder.pre");
    x = conv_pre->forward(z);
  }
  // x holds samples [start, stop) of the stage's rate, `rate` samples a frame.
  int64_t start = 0, stop = z.size(2), rate = 1;
  for (size_t i = 0; i < ups->size(); ++i) {
    {
      RECORD_USER_SCOPE(kUpScopes[i]);
      const auto up = ups->ptr<WNConvTranspose1dImpl>(i);
      x = up->forward(torch::leaky_relu(x, kStageSlope));
      start *= up->stride;
      stop *= up->stride;
      rate *= up->stride;
    }
    RECORD_USER_SCOPE(kResScopes[i]);
    // The blocks' sum starts from the first block's output: adding it to zeros changes nothing.
    auto xs = resblocks->ptr<ResBlockImpl>(n_kernels * i)->forward(x);
    for (size_t j = 1; j < n_kernels; ++j)
      xs.add_(resblocks->ptr<ResBlockImpl>(n_kernels * i + j)->forward(x));
    x = xs.div_(static_cast<float>(n_kernels));
    // Later stages read only this far around the frames asked for: the rest is dropped.
    const int64_t from = std::max(start, begin * rate - reach[i]);
    const int64_t to = std::min(stop, end * rate + reach[i]);
    x = x.narrow(2, from - start, to - from);
    start = from;
    stop = to;
  }
  RECORD_USER_SCOPE("korva::decoder.post");
  x = conv_post->forward(torch::leaky_relu(x, kFinalSlope));
  return x.tanh_().narrow(2, begin * rate - start, (end - begin) * rate);
}
