#include "nn/window-decoder.h"

#include <torch/torch.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <stdexcept>

#include "nn/hifigan-decoder.h"
#include "nn/resblock.h"
#include "nn/wn-conv.h"

namespace {

constexpr float kStageSlope = 0.1f;
constexpr float kFinalSlope = 0.01f;

int64_t floor_div(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// Float32 activations in blocks of the vector width the kernels use.
int64_t float_block() {
  return dnnl::get_effective_cpu_isa() >= dnnl::cpu_isa::avx512_core ? 16 : 8;
}

// The utterance's samples [0, total) as a range of a buffer whose first sample is `first`.
SampleRange inside(int64_t first, int64_t total) { return {-first, total - first}; }

// Keeps a float32 view of a parameter alive while a kernel copies it.
struct Weights {
  torch::Tensor weight, bias;
  explicit Weights(const torch::Tensor &w, const torch::Tensor &b = {})
      : weight(w.detach().to(torch::kFloat).contiguous()),
        bias(b.defined() ? b.detach().to(torch::kFloat).contiguous() : torch::Tensor()) {}
  const float *w() const { return weight.data_ptr<float>(); }
  const float *b() const { return bias.defined() ? bias.data_ptr<float>() : nullptr; }
};

std::unique_ptr<PackedConv> pack(const WNConv1dImpl &conv, const Activations &src,
                                 const Activations &dst, const ConvEpilogue &epilogue,
                                 const PackedConv *same_weights) {
  const Weights weights(conv.weight, conv.bias);
  ConvShape shape;
  shape.in = conv.in_channels;
  shape.out = conv.out_channels;
  shape.kernel = conv.kernel_size;
  shape.dilation = conv.dilation;
  shape.padding = conv.padding;
  return std::make_unique<PackedConv>(weights.w(), weights.b(), shape, src, dst, epilogue,
                                      same_weights);
}

// Least common multiple of the stage's dilations (its folded convolutions need
// lengths that are multiples of each).
int64_t dilation_multiple(const DecoderImpl &dec, size_t stage) {
  int64_t m = 1;
  for (size_t j = 0; j < dec.n_kernels(); ++j) {
    const auto block = dec.resblocks->ptr<ResBlockImpl>(dec.n_kernels() * stage + j);
    for (const auto &conv : *block->convs1) m = std::lcm(m, int64_t{conv->as<WNConv1dImpl>()->dilation});
  }
  return m;
}

// A transposed convolution of stride s as an ordinary convolution with s times the
// output channels: phase r of output channel o is channel r * out + o, and output
// sample q s + r is phase r at input position q. Whose weights this returns,
// [s out][in][kernel], with the kernel's taps at input offsets -(kernel / 2) ..
// kernel / 2; `kernel` is set to that kernel's width.
torch::Tensor phase_weights(const WNConvTranspose1dImpl &up, int64_t &kernel) {
  const auto w = up.weight.detach().to(torch::kFloat);  // [in][out][k]
  const int64_t in = w.size(0), out = w.size(1), k = w.size(2), s = up.stride, p = up.padding;
  // Tap of phase r at input offset j: k = r + p - j s.
  int64_t reach = 0;
  for (int64_t r = 0; r < s; ++r)
    for (int64_t tap = 0; tap < k; ++tap)
      if ((r + p - tap) % s == 0) reach = std::max(reach, std::abs((r + p - tap) / s));
  kernel = 2 * reach + 1;
  auto phases = torch::zeros({s, out, in, kernel});
  for (int64_t r = 0; r < s; ++r)
    for (int64_t j = -reach; j <= reach; ++j) {
      const int64_t tap = r + p - j * s;
      if (tap >= 0 && tap < k) phases[r].select(2, j + reach).copy_(w.select(2, tap).t());
    }
  return phases.reshape({s * out, in, kernel}).contiguous();
}

}  // namespace

bool WindowDecoder::supports(const DecoderImpl &dec) {
  for (size_t i = 0; i < dec.ups->size(); ++i) {
    const auto up = dec.ups->ptr<WNConvTranspose1dImpl>(i);
    if (up->padding < 0 || up->weight.size(2) - 2 * up->padding != up->stride) return false;
  }
  for (const auto &module : *dec.resblocks) {
    const auto block = module->as<ResBlockImpl>();
    for (auto *list : {&block->convs1, &block->convs2}) {
      if (!*list) continue;
      for (const auto &conv : **list) {
        const auto c = conv->as<WNConv1dImpl>();
        if (c->kernel_size % 2 == 0 || c->stride != 1 || c->groups != 1 ||
            c->padding != c->dilation * (c->kernel_size - 1) / 2)
          return false;
      }
    }
  }
  return dec.conv_pre->options.kernel_size()->at(0) % 2 == 1 &&
         dec.conv_post->options.kernel_size()->at(0) % 2 == 1;
}

WindowDecoder::WindowDecoder(const DecoderImpl &dec, int64_t window_frames, bool bfloat16,
                             const WindowDecoder *same_weights)
    : window_(window_frames), samples_per_frame_(dec.samples_per_frame()) {
  if (window_frames < 1 || !supports(dec))
    throw std::invalid_argument("the window decoder cannot run this decoder");
  torch::NoGradGuard no_grad;
  const int64_t block = bfloat16 ? 0 : float_block();
  const auto res_type = bfloat16 ? ActivationType::kBFloat16 : ActivationType::kFloat;
  const size_t n = dec.n_kernels();
  block_count_ = static_cast<float>(n);
  const int64_t stages = static_cast<int64_t>(dec.ups->size());
  stages_.resize(static_cast<size_t>(stages));

  // Walk back from the window's output samples to the latent frames they need.
  post_padding_ = dec.conv_post->options.kernel_size()->at(0) / 2;
  int64_t lo = -post_padding_, hi = window_ * samples_per_frame_ + post_padding_;
  for (int64_t i = stages - 1; i >= 0; --i) {
    Stage &st = stages_[static_cast<size_t>(i)];
    const auto up = dec.ups->ptr<WNConvTranspose1dImpl>(static_cast<size_t>(i));
    const int64_t s = up->stride, p = up->padding, k = up->weight.size(2);
    int64_t context = 0;
    for (size_t j = 0; j < n; ++j)
      context = std::max(context, dec.resblocks->ptr<ResBlockImpl>(n * static_cast<size_t>(i) + j)->context_samples());
    const int64_t first = floor_div(lo - context + p - k + 1, s);
    const int64_t last = floor_div(hi + context - 1 + p, s) + 1;
    const int64_t multiple = dilation_multiple(dec, static_cast<size_t>(i));
    const int64_t step = multiple / std::gcd(multiple, s);
    const int64_t length = (last - first + step - 1) / step * step;
    st.stride = s;
    st.u_start = first;
    st.x_start = first * s;
    const int64_t in = up->weight.size(0), out = up->weight.size(1);
    // The first stage reads the first convolution's float32 output; later ones read the
    // narrowing pass's, in the residual blocks' type.
    st.u = {i == 0 ? ActivationType::kFloat : res_type, block, in, length};
    st.x = {ActivationType::kFloat, block, out, length * s};
    st.conv_in = {res_type, block, out, length * s};
    st.between = st.conv_in;
    // The previous stage keeps its samples [first, first + length) for this one.
    lo = first;
    hi = first + length;
  }
  int64_t rate = 1;
  for (auto &st : stages_) st.rate = rate *= st.stride;

  const int64_t pre_pad = dec.conv_pre->options.kernel_size()->at(0) / 2;
  pre_start_ = lo - pre_pad;
  pre_length_ = hi - lo + 2 * pre_pad;
  const int64_t in_channels = dec.conv_pre->weight.size(1);
  z_shape_ = {ActivationType::kFloat, block, in_channels, pre_length_};
  {
    const Weights w(dec.conv_pre->weight, dec.conv_pre->bias);
    ConvShape shape{in_channels, dec.conv_pre->weight.size(0), 2 * pre_pad + 1};
    pre_ = std::make_unique<PackedConv>(w.w(), w.b(), shape, z_shape_, stages_.front().u,
                                        ConvEpilogue{true, kStageSlope, false, false},
                                        same_weights ? same_weights->pre_.get() : nullptr);
  }

  for (int64_t i = 0; i < stages; ++i) {
    Stage &st = stages_[static_cast<size_t>(i)];
    const Stage *like = same_weights ? &same_weights->stages_[static_cast<size_t>(i)] : nullptr;
    const auto up = dec.ups->ptr<WNConvTranspose1dImpl>(static_cast<size_t>(i));
    int64_t kernel = 1;
    const Weights w(phase_weights(*up, kernel), up->bias.detach().repeat({up->stride}));
    st.phases = {ActivationType::kFloat, block, up->stride * st.x.channels, st.u.length};
    ConvShape shape{st.u.channels, st.phases.channels, kernel, 1, 1, kernel / 2};
    st.up = std::make_unique<PackedConv>(w.w(), w.b(), shape, st.u, st.phases, ConvEpilogue{},
                                         like ? like->up.get() : nullptr);
    for (size_t j = 0; j < n; ++j) {
      const auto rb = dec.resblocks->ptr<ResBlockImpl>(n * static_cast<size_t>(i) + j);
      std::vector<Step> steps(rb->convs1->size());
      for (size_t d = 0; d < steps.size(); ++d) {
        if (d < rb->skipped.size() && rb->skipped[d]) continue;
        const auto &first = *rb->convs1->ptr<WNConv1dImpl>(d);
        const Step *same = like ? &like->blocks[j][d] : nullptr;
        if (rb->convs2) {
          steps[d].first = pack(first, st.conv_in, st.between, {true, kStageSlope, false, false},
                                same ? same->first.get() : nullptr);
          steps[d].second = pack(*rb->convs2->ptr<WNConv1dImpl>(d), st.between, st.x,
                                 {false, 0.0f, true, false}, same ? same->second.get() : nullptr);
        } else {
          steps[d].first = pack(first, st.conv_in, st.x, {false, 0.0f, true, false},
                                same ? same->first.get() : nullptr);
        }
      }
      st.blocks.push_back(std::move(steps));
    }
  }

  const Stage &last = stages_.back();
  post_in_ = {ActivationType::kFloat, block, last.x.channels,
              window_ * samples_per_frame_ + 2 * post_padding_};
  // The kernels want one layout on both sides: a blocked output pads the one channel.
  out_shape_ = {ActivationType::kFloat, block, 1, window_ * samples_per_frame_};
  const Weights w(dec.conv_post->weight);
  ConvShape shape{last.x.channels, 1, 2 * post_padding_ + 1};
  post_ = std::make_unique<PackedConv>(w.w(), nullptr, shape, post_in_, out_shape_,
                                       ConvEpilogue{false, 0.0f, false, true},
                                       same_weights ? same_weights->post_.get() : nullptr);
}

WindowDecoder::~WindowDecoder() = default;

std::unique_ptr<WindowDecoder::Workspace> WindowDecoder::make_workspace() const {
  size_t u = post_in_.bytes(), x = out_shape_.bytes(), conv_in = 0, between = 0;
  for (const auto &st : stages_) {
    u = std::max(u, st.u.bytes());
    x = std::max(x, st.x.bytes());
    conv_in = std::max(conv_in, st.conv_in.bytes());
    between = std::max(between, st.between.bytes());
  }
  return std::unique_ptr<Workspace>(new Workspace(z_shape_.bytes() / sizeof(float),
                                                 u / sizeof(float), x / sizeof(float), conv_in,
                                                 between));
}

void WindowDecoder::decode(const float *z, int64_t frames, int64_t begin, float *out,
                           Workspace &work, const float *pre_bias) const {
  gather_frames(z, frames, begin + pre_start_, work.z_.data(), z_shape_);
  pre_->run(work.z_.data(), work.u_.data(), pre_bias);
  zero_outside(work.u_.data(), stages_.front().u,
               inside(begin + stages_.front().u_start, frames));
  int64_t previous_rate = 1;
  for (size_t i = 0; i < stages_.size(); ++i) {
    const Stage &st = stages_[i];
    if (i > 0) {
      const Stage &before = stages_[i - 1];
      leaky_relu_into(work.acc_.data(), before.x, st.u_start - before.x_start, work.u_.data(),
                      st.u, kStageSlope, block_count_,
                      inside(begin * previous_rate + st.u_start, frames * previous_rate));
    }
    const SampleRange x_inside = inside(begin * st.rate + st.x_start, frames * st.rate);
    if (st.x.block) {
      st.up->run(work.u_.data(), work.phases_.data());
      interleave_phases(work.phases_.data(), st.phases, work.x_.data(), st.x, st.stride);
    } else {
      // Channels-last phases [q][r][c] are already the samples [q s + r][c].
      st.up->run(work.u_.data(), work.x_.data());
    }
    zero_outside(work.x_.data(), st.x, x_inside);
    for (size_t j = 0; j < st.blocks.size(); ++j) {
      float *y = j == 0 ? work.acc_.data() : work.y_.data();
      std::memcpy(y, work.x_.data(), st.x.bytes());
      for (const Step &step : st.blocks[j]) {
        if (!step.first) {
          add_positive_zero(y, st.x);
          continue;
        }
        leaky_relu_into(y, st.x, 0, work.conv_in_.data(), st.conv_in, kStageSlope, 1.0f,
                        x_inside);
        if (step.second) {
          step.first->run(work.conv_in_.data(), work.between_.data());
          zero_outside(work.between_.data(), st.between, x_inside);
          step.second->run(work.between_.data(), y);
        } else {
          step.first->run(work.conv_in_.data(), y);
        }
        zero_outside(y, st.x, x_inside);
      }
      if (j > 0) add_into(work.acc_.data(), y, st.x);
    }
    previous_rate = st.rate;
  }
  const Stage &last = stages_.back();
  const int64_t first = begin * samples_per_frame_ - post_padding_;
  leaky_relu_into(work.acc_.data(), last.x, -post_padding_ - last.x_start, work.u_.data(),
                  post_in_, kFinalSlope, block_count_,
                  inside(first, frames * samples_per_frame_));
  if (!out_shape_.block) {
    post_->run(work.u_.data(), out);
    return;
  }
  post_->run(work.u_.data(), work.x_.data());
  for (int64_t t = 0; t < out_shape_.length; ++t) out[t] = work.x_[t * out_shape_.block];
}
