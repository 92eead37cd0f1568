#pragma once
// The whole voice model: the four networks under the names the checkpoint
// binder expects, and the inference pipeline from token ids to waveform.

#include <torch/nn/module.h>
#include <torch/nn/modules/embedding.h>
#include <torch/nn/pimpl.h>

#include "model/chunked-synthesis.h"
#include "nn/coupling-flow.h"
#include "nn/duration-predictor.h"
#include "nn/hifigan-decoder.h"
#include "nn/stochastic-duration-predictor.h"
#include "nn/text-encoder.h"
#include "voice/voice-description.h"

// Longest utterance synthesis accepts, in decoder frames (with the constructed
// voice's 512 samples a frame, about 46 minutes). Synthesis memory no longer
// grows with it beyond the output itself (4 bytes a sample) and the frame-rate
// latents (a few KiB a frame).
constexpr int64_t kMaxFrames = 262144;

struct KorvaVITSImpl : torch::nn::Module {
  // The networks in the sizes `voice` gives; the default is the constructed voice.
  explicit KorvaVITSImpl(const VoiceDescription &voice = {});

  // ids int64 [1, N], lengths int64 [1] -> the waveform at the voice's rate,
  // handed to `sink` window by window, spoken by `speaker` (0 .. n_speakers - 1;
  // ignored by a voice of one speaker). Every random draw comes from a generator
  // of the call's own seeded with `seed` (the same draws as the default generator
  // after manual_seed(seed)), so that calls in parallel do not change each
  // other's audio; the weights are only read. Writes the diagnostic lines. Throws
  // on non-finite durations or samples, when T exceeds kMaxFrames or for a speaker out of
  // range. Returns false when the sink stopped it.
  bool synthesize(const torch::Tensor &ids, const torch::Tensor &lengths, float noise_scale,
                  float noise_scale_w, float length_scale, int seed, WaveSink &sink,
                  const ChunkSizes &sizes = {}, int64_t speaker = 0);

  // The same, collected into one [1, S * T] tensor.
  torch::Tensor infer(const torch::Tensor &ids, const torch::Tensor &lengths, float noise_scale,
                      float noise_scale_w, float length_scale, int seed,
                      const ChunkSizes &sizes = {}, int64_t speaker = 0);

  // The precision of the networks' heaviest arithmetic: with bfloat16 on, the
  // decoder and the flow compute in bfloat16 where that pays on this CPU
  // (AMX-BF16: the decoder's residual blocks and upsampling, the flow's gated
  // convolutions) and stay float32 elsewhere, where the
  // bfloat16 kernels are slower than the float32 ones. The caller checks that the
  // CPU has native bfloat16 at all (cpu-features.h). Coupling layers skipped at
  // that moment (skip_identity_layers) get no bfloat16 copy and stay float32.
  void use_bfloat16(bool on);

  // Once the weights are bound: with skip, the coupling layers and residual steps
  // that they make exact identities are not run (the samples stay the same, bit
  // for bit); without, everything runs. Writes one line with the counts.
  void skip_identity_layers(bool skip);

  TextEncoder enc_p{nullptr};
  StochasticDurationPredictor dp{nullptr};
  DurationPredictor dp_deterministic{nullptr};  // registered as "dp" in its place, where described
  Flow flow{nullptr};
  Decoder dec{nullptr};
  torch::nn::Embedding emb_g{nullptr};  // speaker id -> [gin]; none for one speaker

  // logw [1, 1, N] from whichever duration predictor the voice has; only the
  // stochastic one draws noise, from `generator`.
  torch::Tensor log_durations(const TextEncoderOutput &enc, float noise_scale_w,
                              const torch::Tensor &g, at::Generator generator);

 private:
  // g [1, gin, 1] of `speaker`, or undefined for a voice of one speaker.
  torch::Tensor speaker_embedding(int64_t speaker);
};
TORCH_MODULE(KorvaVITS);
