#pragma once
// Waveform decoder: latent frames [B, in, F] -> audio [B, 1, S F] in [-1, 1], S
// samples a frame. Transposed-convolution stages upsample (the constructed voice:
// by 8, 8, 4 and 2, S = 512); after each, residual blocks of different kernel
// widths read the same input and are averaged.

#include <torch/nn/module.h>
#include <torch/nn/modules/container/modulelist.h>
#include <torch/nn/modules/conv.h>
#include <torch/nn/pimpl.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "voice/voice-description.h"

class WindowDecoder;

struct DecoderImpl : torch::nn::Module {
  // gin_channels > 0 adds the speaker `cond`.
  explicit DecoderImpl(const DecoderSizes &sizes = {}, int32_t in_channels = 192,
                       int32_t gin_channels = 0);
  // z [B, in, F], g [B, gin, 1] or undefined -> [B, 1, S F]
  torch::Tensor forward(const torch::Tensor &z, const torch::Tensor &g = {});
  // Only the samples of frames [begin, end) of z: [B, 1, S (end - begin)]. After
  // each stage the activations the later stages do not read for them are dropped,
  // so context frames around a window cost little beyond the first stage.
  torch::Tensor forward_frames(const torch::Tensor &z, int64_t begin, int64_t end,
                               const torch::Tensor &g = {});
  // Residual blocks in bfloat16 (the upsampling stays float32), or back in float32.
  void use_bfloat16(bool on);
  bool uses_bfloat16() const { return bfloat16_; }
  // The window decoder for windows of `frames` frames, of the weights and precision
  // as they are now, for the calling thread's thread count: made on first use and
  // kept until they change. Null when it cannot run this decoder (forward_frames
  // then does the work).
  std::shared_ptr<const WindowDecoder> window_decoder(int64_t frames);
  // Latent frames on each side that one output sample depends on (rounded up).
  int64_t context_frames() const;
  // ResBlockImpl::skip_identity_steps on every block; returns the steps skipped.
  int skip_identity_steps(bool skip);
  // Output samples per latent frame: the product of the upsample rates.
  int64_t samples_per_frame() const { return samples_per_frame_; }
  // Residual blocks per stage.
  size_t n_kernels() const { return n_kernels_; }

  torch::nn::Conv1d conv_pre{nullptr};       // in -> initial channels, kernel 7
  torch::nn::ModuleList ups{nullptr};        // WNConvTranspose1d, channels halve per stage
  torch::nn::ModuleList resblocks{nullptr};  // ResBlock, K per stage, entry K i + j
  torch::nn::Conv1d conv_post{nullptr};      // last stage's channels -> 1, kernel 7, no bias
  torch::nn::Conv1d cond{nullptr};           // speaker -> initial channels, after conv_pre; or none

 private:
  // Element i: samples at stage i's rate, on each side, that the stages after it
  // read; the last element: context_frames().
  std::vector<int64_t> reaches() const;
  // Samples on each side that stage `stage`'s widest residual block reads.
  int64_t stage_context(size_t stage) const;

  // Changes whenever a weight, the precision or the skipped steps change.
  uint64_t weights_stamp() const;

  size_t n_kernels_;  // residual blocks per stage
  int64_t samples_per_frame_;
  bool bfloat16_ = false;
  std::mutex windows_mutex_;
  uint64_t windows_stamp_ = ~uint64_t{0};
  // By window frames and thread count; all share one copy of the packed weights.
  std::map<std::pair<int64_t, int>, std::shared_ptr<const WindowDecoder>> windows_;
  std::vector<std::string> up_scopes_, res_scopes_;  // profiler names per stage
};
TORCH_MODULE(Decoder);
