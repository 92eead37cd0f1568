#pragma once
// Waveform decoder: latent frames [B, 192, F] -> audio [B, 1, 512 F] in [-1, 1].
// Four transposed-convolution stages upsample by 8, 8, 4 and 2; after each, three
// residual blocks of different kernel widths read the same input and are averaged.

#include <torch/nn/module.h>
#include <torch/nn/modules/container/modulelist.h>
#include <torch/nn/modules/conv.h>
#include <torch/nn/pimpl.h>

#include <array>
#include <cstdint>

inline constexpr std::array<int32_t, 4> kUpsampleRates = {8, 8, 4, 2};
inline constexpr std::array<int32_t, 4> kUpsampleKernels = {16, 16, 8, 4};
inline constexpr std::array<int32_t, 3> kResblockKernels = {3, 7, 11};
inline constexpr std::array<int32_t, 3> kResblockDilations = {1, 3, 5};
inline constexpr int64_t kSamplesPerFrame =
    kUpsampleRates[0] * kUpsampleRates[1] * kUpsampleRates[2] * kUpsampleRates[3];

struct DecoderImpl : torch::nn::Module {
  DecoderImpl();
  torch::Tensor forward(const torch::Tensor &z);  // [B, 192, F] -> [B, 1, 512 F]
  // Only the samples of frames [begin, end) of z: [B, 1, 512 (end - begin)]. After
  // each stage the activations the later stages do not read for them are dropped,
  // so context frames around a window cost little beyond the first stage.
  torch::Tensor forward_frames(const torch::Tensor &z, int64_t begin, int64_t end);
  // Residual blocks in bfloat16 (the upsampling stays float32), or back in float32.
  void use_bfloat16(bool on);
  // Latent frames on each side that one output sample depends on (rounded up).
  int64_t context_frames() const;
  // ResBlockImpl::skip_identity_steps on every block; returns the steps skipped.
  int skip_identity_steps(bool skip);

  torch::nn::Conv1d conv_pre{nullptr};       // 192 -> 1024, kernel 7
  torch::nn::ModuleList ups{nullptr};        // WNConvTranspose1d, channels halve per stage
  torch::nn::ModuleList resblocks{nullptr};  // ResBlock, 3 per stage, entry 3 i + j
  torch::nn::Conv1d conv_post{nullptr};      // 64 -> 1, kernel 7, no bias

 private:
  // Element i: samples at stage i's rate, on each side, that the stages after it
  // read; the last element: context_frames().
  using Reaches = std::array<int64_t, kUpsampleRates.size() + 1>;
  Reaches reaches() const;
};
TORCH_MODULE(Decoder);
