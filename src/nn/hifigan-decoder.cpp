#include "nn/hifigan-decoder.h"

#include <ATen/record_function.h>
#include <torch/torch.h>

#include <algorithm>
#include <vector>

#include "nn/resblock.h"
#include "nn/window-decoder.h"
#include "nn/wn-conv.h"

namespace {
constexpr double kStageSlope = 0.1;
constexpr double kFinalSlope = 0.01;
}  // namespace

DecoderImpl::DecoderImpl(const DecoderSizes &sizes, int32_t in_channels, int32_t gin_channels)
    : n_kernels_(sizes.resblock_kernel_sizes.size()), samples_per_frame_(sizes.samples_per_frame()) {
  const int32_t initial = sizes.upsample_initial_channel;
  conv_pre = register_module(
      "conv_pre", torch::nn::Conv1d(torch::nn::Conv1dOptions(in_channels, initial, 7).padding(3)));
  ups = register_module("ups", torch::nn::ModuleList());
  resblocks = register_module("resblocks", torch::nn::ModuleList());
  int32_t channels = initial;
  for (size_t i = 0; i < sizes.upsample_rates.size(); ++i) {
    const int32_t kernel = sizes.upsample_kernel_sizes[i];
    const int32_t rate = sizes.upsample_rates[i];
    ups->push_back(WNConvTranspose1d(channels, channels / 2, kernel, rate, (kernel - rate) / 2));
    channels /= 2;
    for (size_t j = 0; j < n_kernels_; ++j) {
      resblocks->push_back(ResBlock(channels, sizes.resblock_kernel_sizes[j],
                                    sizes.resblock_dilation_sizes[j], sizes.resblock));
    }
    up_scopes_.push_back("korva::decoder.up" + std::to_string(i));
    res_scopes_.push_back("korva::decoder.res" + std::to_string(i));
  }
  conv_post = register_module(
      "conv_post",
      torch::nn::Conv1d(torch::nn::Conv1dOptions(channels, 1, 7).padding(3).bias(false)));
  if (gin_channels > 0)
    cond = register_module("cond",
                           torch::nn::Conv1d(torch::nn::Conv1dOptions(gin_channels, initial, 1)));
}

void DecoderImpl::use_bfloat16(bool on) {
  for (const auto &block : *resblocks) block->as<ResBlockImpl>()->use_bfloat16(on);
  bfloat16_ = on;
}

uint64_t DecoderImpl::weights_stamp() const {
  uint64_t stamp = bfloat16_ ? 1 : 0;
  for (const auto &p : parameters()) stamp = stamp * 31 + static_cast<uint64_t>(p._version());
  for (const auto &block : *resblocks)
    for (const bool skipped : block->as<ResBlockImpl>()->skipped) stamp = stamp * 3 + (skipped ? 1 : 0);
  return stamp;
}

std::shared_ptr<const WindowDecoder> DecoderImpl::window_decoder(int64_t frames) {
  const std::lock_guard<std::mutex> lock(windows_mutex_);
  const uint64_t stamp = weights_stamp();
  if (stamp != windows_stamp_) {
    windows_.clear();
    windows_stamp_ = stamp;
  }
  // oneDNN's kernels run on the thread count they were built for: a request
  // gets the ones built for its own.
  const std::pair<int64_t, int> key{frames, at::get_num_threads()};
  const auto found = windows_.find(key);
  if (found != windows_.end()) return found->second;
  const WindowDecoder *same_weights = nullptr;
  for (const auto &made : windows_)
    if (made.second) {
      same_weights = made.second.get();
      break;
    }
  std::shared_ptr<const WindowDecoder> made;
  if (WindowDecoder::supports(*this)) {
    try {
      made = std::make_shared<const WindowDecoder>(*this, frames, bfloat16_, same_weights);
    } catch (const std::exception &) {
      // oneDNN refused a kernel: forward_frames does the work instead.
    }
  }
  windows_[key] = made;
  return made;
}

int DecoderImpl::skip_identity_steps(bool skip) {
  int marked = 0;
  for (const auto &block : *resblocks)
    marked += block->as<ResBlockImpl>()->skip_identity_steps(skip);
  return marked;
}

int64_t DecoderImpl::stage_context(size_t stage) const {
  int64_t widest = 0;
  for (size_t j = 0; j < n_kernels_; ++j)
    widest =
        std::max(widest, resblocks->ptr<ResBlockImpl>(n_kernels_ * stage + j)->context_samples());
  return widest;
}

std::vector<int64_t> DecoderImpl::reaches() const {
  std::vector<int64_t> out(ups->size() + 1);
  // Walk back from one output sample, in samples of each stage's rate.
  int64_t reach = conv_post->options.kernel_size()->at(0) / 2;
  for (size_t i = ups->size(); i-- > 0;) {
    out[i] = reach;
    reach += stage_context(i);
    // A transposed convolution output reads the inputs within (reach + kernel) / stride.
    const auto up = ups->ptr<WNConvTranspose1dImpl>(i);
    const int64_t kernel = up->weight.size(2);
    reach = (reach + kernel + up->stride - 1) / up->stride;
  }
  out.back() = reach + conv_pre->options.kernel_size()->at(0) / 2;
  return out;
}

int64_t DecoderImpl::context_frames() const { return reaches().back(); }

torch::Tensor DecoderImpl::forward(const torch::Tensor &z, const torch::Tensor &g) {
  return forward_frames(z, 0, z.size(2), g);
}

torch::Tensor DecoderImpl::forward_frames(const torch::Tensor &z, int64_t begin, int64_t end,
                                          const torch::Tensor &g) {
  const size_t n_kernels = n_kernels_;
  const auto reach = reaches();
  torch::Tensor x;
  {
    RECORD_USER_SCOPE("korva::decoder.pre");
    x = conv_pre->forward(z);
    if (cond && g.defined()) x = x + cond->forward(g);
  }
  // x holds samples [start, stop) of the stage's rate, `rate` samples a frame.
  int64_t start = 0, stop = z.size(2), rate = 1;
  // Narrows x to [from, to), within what it holds.
  const auto keep = [&](int64_t from, int64_t to) {
    from = std::max(start, from);
    to = std::min(stop, to);
    x = x.narrow(2, from - start, to - from);
    start = from;
    stop = to;
  };
  for (size_t i = 0; i < ups->size(); ++i) {
    {
      RECORD_USER_SCOPE(up_scopes_[i]);
      const auto up = ups->ptr<WNConvTranspose1dImpl>(i);
      x = up->forward(torch::leaky_relu(x, kStageSlope));
      start *= up->stride;
      stop *= up->stride;
      rate *= up->stride;
    }
    // The blocks read only this far around what the later stages read: the rest of
    // the upsampled context is dropped before the blocks' work, not after it.
    keep(begin * rate - reach[i] - stage_context(i), end * rate + reach[i] + stage_context(i));
    RECORD_USER_SCOPE(res_scopes_[i]);
    // The blocks' sum starts from the first block's output: adding it to zeros changes nothing.
    auto xs = resblocks->ptr<ResBlockImpl>(n_kernels * i)->forward(x);
    for (size_t j = 1; j < n_kernels; ++j)
      xs.add_(resblocks->ptr<ResBlockImpl>(n_kernels * i + j)->forward(x));
    x = xs.div_(static_cast<float>(n_kernels));
    // Later stages read only this far around the frames asked for: the rest is dropped.
    keep(begin * rate - reach[i], end * rate + reach[i]);
  }
  RECORD_USER_SCOPE("korva::decoder.post");
  x = conv_post->forward(torch::leaky_relu(x, kFinalSlope));
  return x.tanh_().narrow(2, begin * rate - start, (end - begin) * rate);
}
