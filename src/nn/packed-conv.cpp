#include "nn/packed-conv.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

namespace {

using dnnl::memory;
using Tag = memory::format_tag;

memory::data_type data_type(ActivationType type) {
  return type == ActivationType::kFloat ? memory::data_type::f32 : memory::data_type::bf16;
}

// The buffer as oneDNN sees it: [1, C, L], or [1, C, L / fold, fold] when a
// dilated convolution runs in two dimensions.
memory::desc describe(const Activations &a, int64_t fold) {
  const bool flat = fold == 1;
  memory::dims dims = flat ? memory::dims{1, a.channels, a.length}
                           : memory::dims{1, a.channels, a.length / fold, fold};
  Tag tag;
  if (a.block == 0)
    tag = flat ? Tag::nwc : Tag::nhwc;
  else if (a.block == 16)
    tag = flat ? Tag::nCw16c : Tag::nChw16c;
  else if (a.block == 8)
    tag = flat ? Tag::nCw8c : Tag::nChw8c;
  else
    throw std::invalid_argument("activation block of " + std::to_string(a.block) + " channels");
  return memory::desc(dims, data_type(a.type), tag);
}

dnnl::primitive_attr attributes(const ConvEpilogue &e) {
  dnnl::post_ops ops;
  if (e.accumulate) ops.append_sum(1.0f);
  if (e.leaky_relu) ops.append_eltwise(1.0f, dnnl::algorithm::eltwise_relu, e.slope, 0.0f);
  if (e.tanh) ops.append_eltwise(1.0f, dnnl::algorithm::eltwise_tanh, 0.0f, 0.0f);
  dnnl::primitive_attr attr;
  attr.set_post_ops(ops);
  // The library's own scratchpad belongs to the thread that built the kernel: one
  // kernel runs on the threads of every request and window, so each brings its own.
  attr.set_scratchpad_mode(dnnl::scratchpad_mode::user);
  return attr;
}

dnnl::stream &thread_stream() {
  thread_local dnnl::stream stream(cpu_engine());
  return stream;
}

// The calling thread's scratchpad, at least `bytes` long: a thread runs one
// kernel at a time.
void *thread_scratchpad(size_t bytes) {
  struct Free {
    void operator()(void *p) const { std::free(p); }
  };
  thread_local std::unique_ptr<void, Free> buffer;
  thread_local size_t size = 0;
  if (bytes > size) {
    constexpr size_t kAlign = 64;
    buffer.reset(std::aligned_alloc(kAlign, (bytes + kAlign - 1) / kAlign * kAlign));
    if (!buffer) throw std::bad_alloc();
    size = bytes;
  }
  return buffer.get();
}

}  // namespace

const dnnl::engine &cpu_engine() {
  static const dnnl::engine engine(dnnl::engine::kind::cpu, 0);
  return engine;
}

namespace {

// The primitive description of `s` over src and dst, one-dimensional or folded by `fold`.
dnnl::convolution_forward::primitive_desc describe_conv(const ConvShape &s, const Activations &src,
                                                       const Activations &dst, bool has_bias,
                                                       const ConvEpilogue &epilogue,
                                                       int64_t fold) {
  const bool flat = fold == 1;
  const memory::dims w_dims =
      flat ? memory::dims{s.out, s.in, s.kernel} : memory::dims{s.out, s.in, s.kernel, 1};
  const memory::desc weights(w_dims, data_type(src.type), Tag::any);
  const memory::desc bias = has_bias ? memory::desc({s.out}, memory::data_type::f32, Tag::a)
                                     : memory::desc();
  const memory::dims strides = flat ? memory::dims{s.stride} : memory::dims{1, 1};
  const memory::dims dilates = flat ? memory::dims{s.dilation - 1} : memory::dims{0, 0};
  const memory::dims padding = flat ? memory::dims{s.padding} : memory::dims{s.padding / fold, 0};
  return {{dnnl::prop_kind::forward_inference, dnnl::algorithm::convolution_direct,
           describe(src, fold), weights, bias, describe(dst, fold), strides, dilates, padding,
           padding},
          attributes(epilogue), cpu_engine()};
}

// Whether oneDNN's kernel for the one-dimensional dilated convolution is a poor one:
// its reference loops, or for bfloat16 on an AMX CPU a kernel without AMX (the AMX
// kernels take dilations only up to a width).
bool poor_kernel(const std::string &name, ActivationType type) {
  const bool amx = dnnl::get_effective_cpu_isa() >= dnnl::cpu_isa::avx512_core_amx;
  return name.rfind("ref", 0) == 0 ||
         (type == ActivationType::kBFloat16 && amx && name.find("amx") == std::string::npos);
}

}  // namespace

PackedConv::PackedConv(const float *weight, const float *bias, const ConvShape &s,
                       const Activations &src, const Activations &dst,
                       const ConvEpilogue &epilogue, const PackedConv *same_weights) {
  auto pd = describe_conv(s, src, dst, bias != nullptr, epilogue, 1);
  name_ = pd.impl_info_str();
  const int64_t d = s.dilation;
  // A convolution of dilation d over [L] is one of kernel [k, 1] over [L / d, d].
  int64_t fold = 1;
  if (d > 1 && s.stride == 1 && s.padding % d == 0 && src.length % d == 0 &&
      dst.length % d == 0 && poor_kernel(name_, src.type)) {
    fold = d;
    pd = describe_conv(s, src, dst, bias != nullptr, epilogue, fold);
    name_ = pd.impl_info_str();
  }
  scratchpad_md_ = pd.scratchpad_desc();
  src_md_ = describe(src, fold);
  dst_md_ = describe(dst, fold);
  bias_md_ = memory::desc({s.out}, memory::data_type::f32, Tag::a);
  primitive_ = dnnl::convolution_forward(pd);
  if (same_weights && same_weights->weights_.get_desc() == pd.weights_desc() &&
      (bias != nullptr) == static_cast<bool>(same_weights->bias_)) {
    weights_ = same_weights->weights_;
    bias_ = same_weights->bias_;
    return;
  }
  const auto &engine = cpu_engine();
  weights_ = memory(pd.weights_desc(), engine);
  const memory::dims w_dims = fold == 1 ? memory::dims{s.out, s.in, s.kernel}
                                        : memory::dims{s.out, s.in, s.kernel, 1};
  memory user({w_dims, memory::data_type::f32, fold == 1 ? Tag::oiw : Tag::oihw}, engine,
              const_cast<float *>(weight));
  dnnl::reorder(user, weights_).execute(thread_stream(), user, weights_);
  if (bias) {
    bias_ = memory(bias_md_, engine);
    std::memcpy(bias_.get_data_handle(), bias, static_cast<size_t>(s.out) * sizeof(float));
  }
  thread_stream().wait();
}

void PackedConv::run(const void *src, void *dst, const float *bias) const {
  const auto &engine = cpu_engine();
  std::unordered_map<int, memory> args{
      {DNNL_ARG_SRC, memory(src_md_, engine, const_cast<void *>(src))},
      {DNNL_ARG_WEIGHTS, weights_},
      {DNNL_ARG_DST, memory(dst_md_, engine, dst)}};
  if (bias)
    args[DNNL_ARG_BIAS] = memory(bias_md_, engine, const_cast<float *>(bias));
  else if (bias_)
    args[DNNL_ARG_BIAS] = bias_;
  const size_t scratch = scratchpad_md_.get_size();
  if (scratch > 0)
    args[DNNL_ARG_SCRATCHPAD] = memory(scratchpad_md_, engine, thread_scratchpad(scratch));
  auto &stream = thread_stream();
  primitive_.execute(stream, args);
  stream.wait();
}
