#pragma once
// A buffer of activations [channels, samples] for the CPU convolution kernels,
// and the few element-wise passes the decoder needs between convolutions,
// each fused into one walk over memory (leaky ReLU, average, narrowing to a
// range of samples, conversion to bfloat16, zeroing beyond the utterance).
//
// Two layouts: blocked, [channels / b][samples][b] with the channel count
// padded to a multiple of b (the padding holds zeros), which the float32
// kernels read without reordering; and channels-last, [samples][channels],
// which the AMX bfloat16 kernels read. In both, the samples of one run of
// channels lie in one stretch of memory, so a range of samples is a pointer
// offset per run.

#include <cstddef>
#include <cstdint>

enum class ActivationType { kFloat, kBFloat16 };

struct Activations {
  ActivationType type = ActivationType::kFloat;
  int64_t block = 0;  // channels per block; 0: channels-last
  int64_t channels = 0;
  int64_t length = 0;  // samples

  int64_t padded_channels() const;
  int64_t runs() const { return block ? padded_channels() / block : 1; }  // stretches of memory
  int64_t width() const { return block ? block : channels; }  // elements a sample in a run
  size_t element_bytes() const { return type == ActivationType::kFloat ? 4 : 2; }
  size_t bytes() const;
  Activations with_length(int64_t samples) const;
  Activations with_type(ActivationType t) const;
};

// A range [from, to) of samples: those of a buffer that lie inside the utterance.
struct SampleRange {
  int64_t from = 0;
  int64_t to = 0;
};

// dst[c][t] = leaky_relu(src[c][offset + t] / divisor) for t in `inside`, zero
// elsewhere (and in padded channels); src is float32, dst float32 or bfloat16,
// both of dst's layout and channel count.
void leaky_relu_into(const float *src, const Activations &src_shape, int64_t offset, void *dst,
                     const Activations &dst_shape, float slope, float divisor,
                     const SampleRange &inside);

// Zero at the samples of `buffer` outside `inside`.
void zero_outside(void *data, const Activations &shape, const SampleRange &inside);

// dst += src, float32 buffers of one shape.
void add_into(float *dst, const float *src, const Activations &shape);

// x = 0 + x on a float32 buffer: the +0 of a convolution with zero weights and bias,
// which turns -0 into +0 and leaves every other value as it is.
void add_positive_zero(float *data, const Activations &shape);

// x[c][q * stride + r] = phases[r * x.channels + c][q]: the output of a
// transposed convolution that ran as `stride` phases of an ordinary one.
void interleave_phases(const float *phases, const Activations &phase_shape, float *x,
                       const Activations &x_shape, int64_t stride);

// dst[c][t] = z[c][first + t] of a plain [channels][frames] float32 latent,
// zero where first + t lies outside [0, frames).
void gather_frames(const float *z, int64_t frames, int64_t first, float *dst,
                   const Activations &dst_shape);
