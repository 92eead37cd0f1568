#pragma once
// One convolution run by oneDNN, the CPU kernel
// library under the tensor library's own convolutions, called directly so
// that what the tensor library does around each call is not done: the
// weights are reordered once into the kernel's layout instead of on every
// call, the activations stay in the kernel's layout instead of being
// reordered in and out, and the element-wise step after a convolution (leaky
// ReLU, the residual sum, tanh) happens in the convolution's own pass.
//
// A kernel may run on any thread, and on several at once: each brings its own
// scratchpad. A kernel is built for one input length and one thread count (oneDNN divides
// the work among the threads of the calling thread when it builds the kernel,
// and always runs it on that many); the window decoder keeps its windows of
// one size so that each is built once per voice and thread count.

#include <dnnl.hpp>

#include <cstdint>
#include <string>

#include "nn/activations.h"

struct ConvShape {
  int64_t in = 0, out = 0, kernel = 1;
  int64_t stride = 1, dilation = 1;
  int64_t padding = 0;  // on each side
};

// What the kernel does to its result before storing it.
struct ConvEpilogue {
  bool leaky_relu = false;
  float slope = 0.0f;
  bool accumulate = false;  // dst += result (the residual sum)
  bool tanh = false;
};

class PackedConv {
 public:
  // weight: [out][in][kernel] float32; bias: [out] or null. The kernel computes
  // in src's type, with weights converted to it. Where oneDNN has no good
  // kernel for a dilated convolution (wide dilations), and its padding and the
  // lengths are multiples of the dilation d, it runs as a two-dimensional one
  // over [length / d, d]. `same_weights`, when not null, is a kernel of the same
  // weights and bias (for other lengths or thread counts) whose packed weights
  // are shared where the layouts agree. Throws dnnl::error.
  PackedConv(const float *weight, const float *bias, const ConvShape &shape,
             const Activations &src, const Activations &dst, const ConvEpilogue &epilogue,
             const PackedConv *same_weights = nullptr);

  // `bias` replaces the bias given at construction when not null ([out] float32).
  void run(const void *src, void *dst, const float *bias = nullptr) const;

  // oneDNN's name of the kernel it chose, for benchmarks.
  const std::string &kernel_name() const { return name_; }

 private:
  dnnl::primitive primitive_;
  dnnl::memory::desc src_md_, dst_md_, bias_md_, scratchpad_md_;
  dnnl::memory weights_, bias_;
  std::string name_;
};

// The one CPU engine of the process.
const dnnl::engine &cpu_engine();
