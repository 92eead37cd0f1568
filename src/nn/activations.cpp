#include "nn/activations.h"

#include <ATen/Parallel.h>

#include <algorithm>
#include <cstring>

namespace {

// Elements below which a pass runs on the calling thread alone.
constexpr int64_t kGrain = 32768;

// The passes are plain loops over memory that the compiler vectorises; built for
// each vector width, the widest the CPU has is picked when the library loads.
// Not under the sanitizers, whose runtime is not up yet when the loader picks a clone.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KORVA_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KORVA_SANITIZED 1
#endif
#if defined(__x86_64__) && !defined(KORVA_SANITIZED)
#define KORVA_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define KORVA_VECTOR_CLONES
#endif

KORVA_VECTOR_CLONES void leaky_run(const float *__restrict in, float *__restrict out, int64_t n,
                                   float slope) {
  for (int64_t i = 0; i < n; ++i) {
    const float scaled = in[i] * slope;
    out[i] = in[i] < 0.0f ? scaled : in[i];
  }
}

KORVA_VECTOR_CLONES void leaky_run_divided(const float *__restrict in, float *__restrict out,
                                           int64_t n, float slope, float divisor) {
  for (int64_t i = 0; i < n; ++i) {
    const float v = in[i] / divisor;
    const float scaled = v * slope;
    out[i] = v < 0.0f ? scaled : v;
  }
}

// To bfloat16 by rounding to nearest, ties to even; NaN stays NaN.
KORVA_VECTOR_CLONES void leaky_run_bfloat16(const float *__restrict in, uint16_t *__restrict out,
                                            int64_t n, float slope, float divisor) {
  for (int64_t i = 0; i < n; ++i) {
    const float v = in[i] / divisor;
    const float scaled = v * slope;
    const float r = v < 0.0f ? scaled : v;
    uint32_t bits;
    std::memcpy(&bits, &r, sizeof bits);
    const uint32_t rounded = (bits + 0x7fffu + ((bits >> 16) & 1u)) >> 16;
    const uint32_t quiet = (bits >> 16) | 0x40u;
    const uint32_t nan = 0u - static_cast<uint32_t>((bits & 0x7fffffffu) > 0x7f800000u);
    out[i] = static_cast<uint16_t>((quiet & nan) | (rounded & ~nan));
  }
}

KORVA_VECTOR_CLONES void add_run(float *__restrict dst, const float *__restrict src, int64_t n) {
  for (int64_t i = 0; i < n; ++i) dst[i] += src[i];
}

KORVA_VECTOR_CLONES void positive_zero_run(float *__restrict data, int64_t n) {
  for (int64_t i = 0; i < n; ++i) data[i] = 0.0f + data[i];
}

void leaky(const float *in, float *out, int64_t n, float slope, float divisor) {
  if (divisor == 1.0f)
    leaky_run(in, out, n, slope);
  else
    leaky_run_divided(in, out, n, slope, divisor);
}

void leaky(const float *in, uint16_t *out, int64_t n, float slope, float divisor) {
  leaky_run_bfloat16(in, out, n, slope, divisor);
}

// Calls f(run, first, last) over the runs of `shape` and the sample ranges [first, last)
// of each, split among the intra-op threads.
template <typename F>
void for_each_stretch(const Activations &shape, int64_t samples, F f) {
  const int64_t runs = shape.runs();
  const int64_t grain = std::max<int64_t>(1, kGrain / std::max<int64_t>(1, shape.width()));
  at::parallel_for(0, runs * samples, grain, [&](int64_t begin, int64_t end) {
    while (begin < end) {
      const int64_t run = begin / samples, first = begin % samples;
      const int64_t last = std::min(samples, first + (end - begin));
      f(run, first, last);
      begin += last - first;
    }
  });
}

template <typename Out>
void leaky_relu_typed(const float *src, const Activations &s, int64_t offset, Out *dst,
                      const Activations &d, float slope, float divisor, const SampleRange &inside) {
  const int64_t width = d.width();
  for_each_stretch(d, d.length, [&](int64_t run, int64_t first, int64_t last) {
    const float *in = src + run * s.length * width;
    Out *out = dst + run * d.length * width;
    const int64_t from = std::clamp(inside.from, first, last);
    const int64_t to = std::clamp(inside.to, from, last);
    std::fill(out + first * width, out + from * width, Out{});
    leaky(in + (offset + from) * width, out + from * width, (to - from) * width, slope, divisor);
    std::fill(out + to * width, out + last * width, Out{});
  });
}

}  // namespace

int64_t Activations::padded_channels() const {
  return block ? (channels + block - 1) / block * block : channels;
}

size_t Activations::bytes() const {
  return static_cast<size_t>(padded_channels() * length) * element_bytes();
}

Activations Activations::with_length(int64_t samples) const {
  Activations out = *this;
  out.length = samples;
  return out;
}

Activations Activations::with_type(ActivationType t) const {
  Activations out = *this;
  out.type = t;
  return out;
}

void leaky_relu_into(const float *src, const Activations &src_shape, int64_t offset, void *dst,
                     const Activations &dst_shape, float slope, float divisor,
                     const SampleRange &inside) {
  if (dst_shape.type == ActivationType::kFloat)
    leaky_relu_typed(src, src_shape, offset, static_cast<float *>(dst), dst_shape, slope, divisor,
                     inside);
  else
    leaky_relu_typed(src, src_shape, offset, static_cast<uint16_t *>(dst), dst_shape, slope,
                     divisor, inside);
}

void zero_outside(void *data, const Activations &shape, const SampleRange &inside) {
  const int64_t from = std::clamp<int64_t>(inside.from, 0, shape.length);
  const int64_t to = std::clamp<int64_t>(inside.to, from, shape.length);
  if (from == 0 && to == shape.length) return;
  const size_t sample_bytes = static_cast<size_t>(shape.width()) * shape.element_bytes();
  auto *bytes = static_cast<char *>(data);
  for (int64_t run = 0; run < shape.runs(); ++run) {
    char *start = bytes + static_cast<size_t>(run * shape.length) * sample_bytes;
    std::memset(start, 0, static_cast<size_t>(from) * sample_bytes);
    std::memset(start + static_cast<size_t>(to) * sample_bytes, 0,
                static_cast<size_t>(shape.length - to) * sample_bytes);
  }
}

void add_into(float *dst, const float *src, const Activations &shape) {
  const int64_t width = shape.width();
  for_each_stretch(shape, shape.length, [&](int64_t run, int64_t first, int64_t last) {
    const int64_t at = (run * shape.length + first) * width;
    add_run(dst + at, src + at, (last - first) * width);
  });
}

void add_positive_zero(float *data, const Activations &shape) {
  const int64_t width = shape.width();
  for_each_stretch(shape, shape.length, [&](int64_t run, int64_t first, int64_t last) {
    positive_zero_run(data + (run * shape.length + first) * width, (last - first) * width);
  });
}

void interleave_phases(const float *phases, const Activations &p, float *x, const Activations &xs,
                       int64_t stride) {
  const auto offset = [](const Activations &a, int64_t c, int64_t t) {
    return a.block ? (c / a.block * a.length + t) * a.block + c % a.block : t * a.channels + c;
  };
  const int64_t channels = xs.channels;
  // Whole blocks of channels move together when the phases start on block boundaries.
  const int64_t lanes = xs.block && channels % xs.block == 0 ? xs.block : 1;
  at::parallel_for(0, p.length, std::max<int64_t>(1, kGrain / (channels * stride)),
                   [&](int64_t begin, int64_t end) {
                     for (int64_t q = begin; q < end; ++q)
                       for (int64_t r = 0; r < stride; ++r)
                         for (int64_t c = 0; c < channels; c += lanes)
                           std::memcpy(x + offset(xs, c, q * stride + r),
                                       phases + offset(p, r * channels + c, q),
                                       static_cast<size_t>(lanes) * sizeof(float));
                   });
}

void gather_frames(const float *z, int64_t frames, int64_t first, float *dst,
                   const Activations &d) {
  std::memset(dst, 0, d.bytes());
  const int64_t width = d.width();
  for (int64_t c = 0; c < d.channels; ++c) {
    const int64_t run = d.block ? c / d.block : 0, lane = d.block ? c % d.block : c;
    float *out = dst + run * d.length * width + lane;
    for (int64_t t = std::max<int64_t>(0, -first); t < d.length && first + t < frames; ++t)
      out[t * width] = z[c * frames + first + t];
  }
}
