// The decoder's element-wise passes in both layouts, against the same arithmetic
// done element by element.
#include "nn/activations.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

int64_t offset(const Activations &a, int64_t c, int64_t t) {
  return a.block ? (c / a.block * a.length + t) * a.block + c % a.block : t * a.channels + c;
}

float bf16_value(uint16_t bits) {
  const uint32_t wide = static_cast<uint32_t>(bits) << 16;
  float value;
  std::memcpy(&value, &wide, sizeof value);
  return value;
}

TEST(Activations, LeakyReluNarrowsDividesAndZeroesBeyondTheUtterance) {
  for (const int64_t block : {0, 8}) {
    const Activations src{ActivationType::kFloat, block, 5, 12};
    const Activations dst{ActivationType::kFloat, block, 5, 6};
    std::vector<float> in(src.padded_channels() * src.length);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<float>(i % 7) - 3.0f;
    std::vector<float> out(dst.padded_channels() * dst.length, 99.0f);
    // dst sample t is src sample 4 + t; samples 1 .. 4 are inside.
    leaky_relu_into(in.data(), src, 4, out.data(), dst, 0.1f, 2.0f, {1, 5});
    for (int64_t c = 0; c < dst.padded_channels(); ++c)
      for (int64_t t = 0; t < dst.length; ++t) {
        const float v = in[offset(src, c, 4 + t)] / 2.0f;
        const float expected = t < 1 || t >= 5 ? 0.0f : (v < 0 ? v * 0.1f : v);
        EXPECT_EQ(out[offset(dst, c, t)], expected) << "block " << block << " c " << c;
      }
  }
}

TEST(Activations, Bfloat16RoundsToNearestEvenAndKeepsNan) {
  const Activations shape{ActivationType::kFloat, 0, 1, 4};
  uint32_t halfway = 0x3f808000u;  // between two bfloat16 values; the lower one is even
  float tie;
  std::memcpy(&tie, &halfway, sizeof tie);
  const std::vector<float> in{tie, 1.0f / 3.0f, -2.0f, std::nanf("")};
  std::vector<uint16_t> out(4);
  leaky_relu_into(in.data(), shape, 0, out.data(), shape.with_type(ActivationType::kBFloat16),
                  0.5f, 1.0f, {0, 4});
  EXPECT_EQ(out[0], 0x3f80u);
  EXPECT_NEAR(bf16_value(out[1]), 1.0f / 3.0f, 1.0f / 256.0f);
  EXPECT_EQ(bf16_value(out[2]), -1.0f);
  EXPECT_TRUE(std::isnan(bf16_value(out[3])));
}

TEST(Activations, PhasesInterleaveIntoSamples) {
  for (const int64_t block : {0, 8, 16}) {
    const int64_t stride = 3;
    const Activations phases{ActivationType::kFloat, block, stride * 16, 5};
    const Activations x{ActivationType::kFloat, block, 16, 15};
    std::vector<float> p(phases.padded_channels() * phases.length), out(x.padded_channels() * 15);
    for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<float>(i);
    interleave_phases(p.data(), phases, out.data(), x, stride);
    for (int64_t c = 0; c < 16; ++c)
      for (int64_t t = 0; t < 15; ++t)
        EXPECT_EQ(out[offset(x, c, t)], p[offset(phases, t % stride * 16 + c, t / stride)]);
  }
}

TEST(Activations, ZeroOutsideAndAddTouchOnlyWhatTheySay) {
  const Activations shape{ActivationType::kFloat, 8, 3, 4};
  std::vector<float> a(8 * 4, 1.0f), b(8 * 4, -0.0f);
  zero_outside(a.data(), shape, {1, 3});
  for (int64_t c = 0; c < 8; ++c)
    for (int64_t t = 0; t < 4; ++t) EXPECT_EQ(a[offset(shape, c, t)], t == 1 || t == 2 ? 1 : 0);
  add_into(a.data(), b.data(), shape);
  add_positive_zero(b.data(), shape);
  EXPECT_FALSE(std::signbit(b[5]));
  EXPECT_EQ(a[offset(shape, 2, 1)], 1.0f);
}

TEST(Activations, FramesGatherFromAPlainLatentWithZerosOutside) {
  const std::vector<float> z{1, 2, 3, 4, 5, 6};  // [2 channels][3 frames]
  const Activations shape{ActivationType::kFloat, 8, 2, 5};
  std::vector<float> out(8 * 5, 7.0f);
  gather_frames(z.data(), 3, -1, out.data(), shape);  // frames -1 .. 3
  const float expected[2][5] = {{0, 1, 2, 3, 0}, {0, 4, 5, 6, 0}};
  for (int64_t c = 0; c < 8; ++c)
    for (int64_t t = 0; t < 5; ++t)
      EXPECT_EQ(out[offset(shape, c, t)], c < 2 ? expected[c][t] : 0.0f);
}

}  // namespace
