#pragma once
// The whole voice model: the four networks under the names the checkpoint
// binder expects, and the inference pipeline from token ids to waveform.

#include <torch/nn/module.h>
#include <torch/nn/pimpl.h>

#include "nn/coupling-flow.h"
#include "nn/hifigan-decoder.h"
#include "nn/stochastic-duration-predictor.h"
#include "nn/text-encoder.h"

// Longest utterance infer accepts, in decoder frames of 512 samples (about 175 s).
// Decoding memory grows with the frame count; longer requests are refused.
constexpr int64_t kMaxFrames = 16384;

struct KorvaVITSImpl : torch::nn::Module {
  KorvaVITSImpl();

  // ids int64 [1, N], lengths int64 [1] -> waveform [1, 512 * T] at 48 kHz.
  // Seeds the default generator from the process-wide seed counter and writes
  // the diagnostic lines to stderr. Throws on non-finite durations or when T
  // exceeds kMaxFrames.
  torch::Tensor infer(const torch::Tensor &ids, const torch::Tensor &lengths, float noise_scale,
                      float noise_scale_w, float length_scale);

  TextEncoder enc_p{nullptr};
  StochasticDurationPredictor dp{nullptr};
  Flow flow{nullptr};
  Decoder dec{nullptr};
};
TORCH_MODULE(KorvaVITS);

// Seed of the next infer call; starts at 0 and only ever counts up.
extern int seed_counter;
