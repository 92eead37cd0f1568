#pragma once
// The whole voice model: the four networks under the names the checkpoint
// binder expects, and the inference pipeline from token ids to waveform.

#include <torch/nn/module.h>
#include <torch/nn/pimpl.h>

#include "model/chunked-synthesis.h"
#include "nn/coupling-flow.h"
#include "nn/hifigan-decoder.h"
#include "nn/stochastic-duration-predictor.h"
#include "nn/text-encoder.h"

// Longest utterance synthesis accepts, in decoder frames of 512 samples (about
// 46 minutes). Synthesis memory no longer grows with it beyond the output
// itself (2 KiB a frame) and the frame-rate latents (a few KiB a frame).
constexpr int64_t kMaxFrames = 262144;

struct KorvaVITSImpl : torch::nn::Module {
  KorvaVITSImpl();

  // ids int64 [1, N], lengths int64 [1] -> the waveform at 48 kHz, handed to
  // `sink` window by window. Seeds the default generator from the process-wide
  // seed counter and writes the diagnostic lines to stderr. Throws on
  // non-finite durations or samples, or when T exceeds kMaxFrames. Returns false when the
  // sink stopped it.
  bool synthesize(const torch::Tensor &ids, const torch::Tensor &lengths, float noise_scale,
                  float noise_scale_w, float length_scale, WaveSink &sink,
                  const ChunkSizes &sizes = {});

  // The same, collected into one [1, 512 * T] tensor.
  torch::Tensor infer(const torch::Tensor &ids, const torch::Tensor &lengths, float noise_scale,
                      float noise_scale_w, float length_scale, const ChunkSizes &sizes = {});

  // Once the weights are bound: with skip, the coupling layers and residual steps
  // that they make exact identities are not run (the samples stay the same, bit
  // for bit); without, everything runs. Writes one line with the counts.
  void skip_identity_layers(bool skip);

  TextEncoder enc_p{nullptr};
  StochasticDurationPredictor dp{nullptr};
  Flow flow{nullptr};
  Decoder dec{nullptr};
};
TORCH_MODULE(KorvaVITS);

// Seed of the next infer call; starts at 0 and only ever counts up.
extern int seed_counter;
