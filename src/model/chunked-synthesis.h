#pragma once
// The reverse flow and the decoder run over windows of frames rather than the
// whole utterance: memory stays bounded and the first audio is ready early.
// Each window carries the networks' receptive field as context on both sides,
// so the samples equal those of whole-utterance decoding.

#include <torch/types.h>

#include "model/wave-sink.h"

struct FlowImpl;
struct DecoderImpl;

// Window lengths in frames. The decoder's first window has first_decode frames
// and every later one max_decode (where the decoder runs on its own tensor
// operations, windows double from first_decode up to max_decode instead); flow
// windows grow with the frames already done, up to max_flow. A short first window
// gives early audio; 32 frames keep a 256-times upsampling decoder's activations
// within a core's cache.
struct ChunkSizes {
  int64_t first_decode = 8;
  int64_t max_decode = 32;
  int64_t max_flow = 512;
};

// z_p [1, inter, T] latent prior sample, y_mask [1, 1, T], g [1, gin, 1] the
// speaker or undefined. Writes the flow and decoder diagnostic lines as each
// network finishes. Returns false when the sink stopped it; throws at
// the first window holding a NaN or infinite sample (the windows before it have
// reached the sink).
bool synthesize_chunked(FlowImpl &flow, DecoderImpl &dec, const torch::Tensor &z_p,
                        const torch::Tensor &y_mask, WaveSink &sink, const ChunkSizes &sizes = {},
                        const torch::Tensor &g = {});
