#pragma once
// The waveform decoder run window by window on oneDNN's kernels directly
// (PackedConv): every window has the same number of frames, so its kernels
// and weight layouts are made once per voice and precision, and its
// activations fit the core's cache. Each window carries the decoder's
// receptive field as context, and at each stage only the samples the later
// stages read are kept, as DecoderImpl::forward_frames does; samples beyond
// the utterance are held at zero before every convolution reads them, so a
// window gives the samples of decoding the whole utterance at once.
//
// float32 keeps the activations in the kernels' blocked layout; bfloat16
// runs the residual blocks' convolutions in bfloat16 on channels-last
// activations (the layout of the AMX kernels), the residual sums, the
// upsampling and the first and last convolutions staying float32.

#include <cstdint>
#include <memory>
#include <vector>

#include "nn/activations.h"
#include "nn/packed-conv.h"

struct DecoderImpl;

class WindowDecoder {
 public:
  // Buffers of one request's windows; made by the decoder, reused window after window.
  class Workspace {
   private:
    friend class WindowDecoder;
    Workspace(size_t z, size_t u, size_t x, size_t conv_in, size_t between)
        : z_(z), u_(u), x_(x), phases_(x), acc_(x), y_(x), conv_in_(conv_in), between_(between) {}
    std::vector<float> z_, u_, x_, phases_, acc_, y_;  // float32 elements
    std::vector<char> conv_in_, between_;     // bytes (float32 or bfloat16)
  };

  // From the decoder's weights as they are now, for the calling thread's thread
  // count. `same_weights`: a window decoder of the same weights and precision
  // (of another window size or thread count) whose packed weights are shared, or
  // null. Throws std::invalid_argument for a decoder it cannot run (see supports)
  // and dnnl::error when oneDNN refuses.
  WindowDecoder(const DecoderImpl &dec, int64_t window_frames, bool bfloat16,
                const WindowDecoder *same_weights = nullptr);
  ~WindowDecoder();

  // Whether the decoder's sizes are ones this class runs: odd residual kernels whose
  // paddings keep the length, transposed convolutions whose output is rate x input.
  static bool supports(const DecoderImpl &dec);

  int64_t window_frames() const { return window_; }
  int64_t samples_per_frame() const { return samples_per_frame_; }
  // The latent frames [begin + first_frame(), begin + first_frame() + frames_read())
  // that the window starting at frame `begin` reads (frames outside the utterance
  // read as zeros).
  int64_t first_frame() const { return pre_start_; }
  int64_t frames_read() const { return pre_length_; }

  std::unique_ptr<Workspace> make_workspace() const;

  // The samples of frames [begin, begin + window_frames()) of the utterance whose
  // latent is z [in_channels][frames] (float32, contiguous) into `out`
  // (window_frames() * samples_per_frame() floats; those of frames past the end
  // are not meaningful). `pre_bias`: the first convolution's bias with the
  // speaker's condition added, or null.
  void decode(const float *z, int64_t frames, int64_t begin, float *out, Workspace &work,
              const float *pre_bias = nullptr) const;

 private:
  struct Step {
    std::unique_ptr<PackedConv> first, second;  // second: resblock type 1 only
  };
  struct Stage {
    int64_t stride = 1, rate = 1;  // upsampling, and samples per frame after it
    int64_t u_start = 0;           // first sample of the upsampling's input, previous rate
    int64_t x_start = 0;           // first sample after the upsampling, this rate
    Activations u, x, conv_in, between;  // input, output, residual conv input and middle
    Activations phases;  // the upsampling's output as `stride` phases of its channels
    std::unique_ptr<PackedConv> up;  // the transposed convolution as an ordinary one
    std::vector<std::vector<Step>> blocks;  // per block, per dilation; empty step: skipped
  };

  int64_t window_ = 0;
  int64_t samples_per_frame_ = 1;
  int64_t pre_start_ = 0, pre_length_ = 0;  // frames the first convolution reads
  int64_t post_padding_ = 0;
  float block_count_ = 1.0f;
  Activations z_shape_, post_in_, out_shape_;
  std::unique_ptr<PackedConv> pre_, post_;
  std::vector<Stage> stages_;
};
