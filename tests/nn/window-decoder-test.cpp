// The window decoder against the decoder's own tensor operations over the whole
// latent, on decoders whose sizes reach the awkward cases: channel counts that do
// not fill the kernels' channel blocks, wide dilations, speakers, skipped steps,
// windows of one frame and windows past the end.
#include "nn/window-decoder.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <cmath>
#include <vector>

#include "nn/hifigan-decoder.h"
#include "nn/resblock.h"
#include "nn/wn-conv.h"

namespace {

DecoderSizes type2_sizes() {
  DecoderSizes s;
  s.resblock = 2;
  s.resblock_kernel_sizes = {3, 7};
  s.resblock_dilation_sizes = {{1, 2}, {3, 12}};
  s.upsample_rates = {4, 2};
  s.upsample_kernel_sizes = {8, 4};
  s.upsample_initial_channel = 24;  // then 12 and 6: no whole block of 16 or 8
  return s;
}

DecoderSizes type1_sizes() {
  DecoderSizes s;
  s.resblock_kernel_sizes = {3, 5};
  s.resblock_dilation_sizes = {{1, 3}, {1, 5}};
  s.upsample_rates = {8, 2};
  s.upsample_kernel_sizes = {16, 4};
  s.upsample_initial_channel = 64;
  return s;
}

Decoder sane_decoder(const DecoderSizes &sizes, int32_t gin) {
  torch::manual_seed(11);
  Decoder dec(sizes, 16, gin);
  torch::NoGradGuard no_grad;
  for (auto &w : dec->parameters()) {
    if (w.dim() == 3) w.normal_(0.0, 1.0 / std::sqrt(static_cast<double>(w.numel() / w.size(0))));
    if (w.dim() == 1) w.normal_(0.0, 0.1);
  }
  return dec;
}

// All frames' samples through windows of `window` frames.
torch::Tensor decode_windows(DecoderImpl &dec, const torch::Tensor &z, int64_t window,
                             const torch::Tensor &g = {}) {
  const auto windowed = dec.window_decoder(window);
  if (!windowed) return {};
  const int64_t frames = z.size(2), per_frame = dec.samples_per_frame();
  const auto latent = z.contiguous();
  torch::Tensor bias;
  if (g.defined()) bias = (dec.conv_pre->bias + dec.cond->forward(g).view({-1})).contiguous();
  auto work = windowed->make_workspace();
  std::vector<float> all, out(static_cast<size_t>(window * per_frame));
  for (int64_t begin = 0; begin < frames; begin += window) {
    windowed->decode(latent.data_ptr<float>(), frames, begin, out.data(), *work,
                     bias.defined() ? bias.data_ptr<float>() : nullptr);
    const int64_t n = (std::min(frames, begin + window) - begin) * per_frame;
    all.insert(all.end(), out.begin(), out.begin() + n);
  }
  return torch::tensor(all).view({1, 1, -1});
}

double snr_db(const torch::Tensor &reference, const torch::Tensor &test) {
  return 10.0 * std::log10(reference.pow(2).sum().item<double>() /
                           (test - reference).pow(2).sum().item<double>());
}

TEST(WindowDecoder, WindowsOfAnySizeGiveTheWholeLatentsSamples) {
  torch::NoGradGuard no_grad;
  for (const auto &sizes : {type2_sizes(), type1_sizes()}) {
    auto dec = sane_decoder(sizes, 0);
    const auto z = torch::randn({1, 16, 23});
    const auto whole = dec->forward(z);
    for (const int64_t window : {1, 5, 32}) {
      const auto windows = decode_windows(*dec, z, window);
      ASSERT_TRUE(windows.defined()) << "window " << window;
      ASSERT_EQ(windows.sizes(), whole.sizes());
      EXPECT_LT((windows - whole).abs().max().item<float>(), 1e-5f)
          << "resblock type " << sizes.resblock << ", window " << window;
    }
  }
}

TEST(WindowDecoder, SpeakersConditionTheFirstConvolution) {
  torch::NoGradGuard no_grad;
  auto dec = sane_decoder(type2_sizes(), 8);
  const auto z = torch::randn({1, 16, 9});
  const auto g = torch::randn({1, 8, 1});
  const auto windows = decode_windows(*dec, z, 4, g);
  EXPECT_LT((windows - dec->forward(z, g)).abs().max().item<float>(), 1e-5f);
  EXPECT_GT((windows - dec->forward(z)).abs().max().item<float>(), 1e-3f);
}

TEST(WindowDecoder, ChangedWeightsAndSkippedStepsAreSeen) {
  torch::NoGradGuard no_grad;
  auto dec = sane_decoder(type2_sizes(), 0);
  const auto z = torch::randn({1, 16, 7});
  const auto before = dec->window_decoder(8);
  auto step = dec->resblocks->ptr<ResBlockImpl>(1)->convs1->ptr<WNConv1dImpl>(0);
  step->weight.zero_();
  step->bias.zero_();
  EXPECT_EQ(dec->skip_identity_steps(true), 1);
  EXPECT_NE(dec->window_decoder(8), before);
  const auto windows = decode_windows(*dec, z, 8);
  const auto whole = dec->forward(z);
  EXPECT_LT((windows - whole).abs().max().item<float>(), 1e-5f);
  EXPECT_EQ(dec->window_decoder(8), dec->window_decoder(8)) << "kept while nothing changes";
}

// oneDNN's kernels keep the thread count they were built for: a request of
// one thread must not run kernels built for two, nor the other way round.
TEST(WindowDecoder, EachThreadCountHasKernelsOfItsOwnGivingTheSameSamples) {
  torch::NoGradGuard no_grad;
  auto dec = sane_decoder(type1_sizes(), 0);
  const auto z = torch::randn({1, 16, 20});
  std::shared_ptr<const WindowDecoder> kernels[2];
  torch::Tensor samples[2];
  const int saved = at::get_num_threads();
  for (const int threads : {1, 2}) {
    at::set_num_threads(threads);
    kernels[threads - 1] = dec->window_decoder(8);
    samples[threads - 1] = decode_windows(*dec, z, 8);
  }
  at::set_num_threads(saved);
  EXPECT_NE(kernels[0], kernels[1]);
  EXPECT_TRUE(torch::equal(samples[0], samples[1]));
}

TEST(WindowDecoder, Bfloat16StaysFortyDecibelsFromFloat32) {
  torch::NoGradGuard no_grad;
  auto dec = sane_decoder(type1_sizes(), 0);
  const auto z = torch::randn({1, 16, 20});
  const auto fp32 = dec->forward(z);
  dec->use_bfloat16(true);
  const auto bf16 = decode_windows(*dec, z, 8);
  if (!bf16.defined()) GTEST_SKIP() << "no bfloat16 convolution kernels on this CPU";
  EXPECT_GE(snr_db(fp32, bf16), 40.0);
}

}  // namespace
