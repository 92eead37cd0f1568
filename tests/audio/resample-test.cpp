// Resampling chunk by chunk: the same samples as the whole at once, the right
// length, the frequency kept, the filter's tail delivered, little held back.
#include "audio/resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace {

constexpr int kIn = 22050, kOut = 48000;
constexpr double kPi = 3.14159265358979323846;

class CollectingSink : public WaveSink {
 public:
  explicit CollectingSink(int stop_after = -1) : stop_after_(stop_after) {}
  void begin(int64_t total_samples) override { totals.push_back(total_samples); }
  bool write(const float *chunk, int64_t count) override {
    samples.insert(samples.end(), chunk, chunk + count);
    return ++writes != stop_after_;
  }
  std::vector<int64_t> totals;
  std::vector<float> samples;
  int writes = 0;

 private:
  int stop_after_;
};

std::vector<float> sine(double hz, int rate, int64_t count) {
  std::vector<float> out(static_cast<size_t>(count));
  for (int64_t n = 0; n < count; ++n)
    out[static_cast<size_t>(n)] = static_cast<float>(0.5 * std::sin(2 * kPi * hz * n / rate));
  return out;
}

// One utterance through a fresh resampler, in chunks of the given sizes, cycled.
std::vector<float> resample(const std::vector<float> &input, const std::vector<int64_t> &chunks) {
  CollectingSink sink;
  ResampleSink resampler(kIn, kOut, sink);
  const auto total = static_cast<int64_t>(input.size());
  resampler.begin(total);
  for (int64_t at = 0, i = 0; at < total; ++i) {
    const int64_t count = std::min(chunks[static_cast<size_t>(i) % chunks.size()], total - at);
    EXPECT_TRUE(resampler.write(input.data() + at, count));
    at += count;
  }
  EXPECT_EQ(sink.totals, std::vector<int64_t>{resampler.output_samples(total)});
  return sink.samples;
}

TEST(ResampleSink, ChunkByChunkGivesTheWholeUtterancesSamples) {
  const auto input = sine(440.0, kIn, kIn + 123);
  const auto whole = resample(input, {kIn + 123});
  for (const std::vector<int64_t> &chunks :
       {std::vector<int64_t>{1, 7, 256, 4097}, std::vector<int64_t>{512}}) {
    const auto chunked = resample(input, chunks);
    ASSERT_EQ(chunked.size(), whole.size());
    float worst = 0.0f;
    for (size_t i = 0; i < whole.size(); ++i)
      worst = std::max(worst, std::fabs(chunked[i] - whole[i]));
    EXPECT_LE(worst, 1e-6f) << "first chunk " << chunks[0];
  }
}

TEST(ResampleSink, LengthIsTheDurationAtTheOutputRate) {
  for (const int64_t n : {1, 100, 12345, 22050, 62464}) {
    const auto out = resample(sine(440.0, kIn, n), {1000});
    EXPECT_EQ(static_cast<int64_t>(out.size()), std::llround(n * double(kOut) / kIn)) << n;
  }
  CollectingSink sink;
  ResampleSink resampler(kIn, kOut, sink);
  resampler.begin(0);
  EXPECT_EQ(sink.totals, std::vector<int64_t>{0});
  EXPECT_TRUE(sink.samples.empty());
}

TEST(ResampleSink, KeepsTheFrequencyAndTheTimingUpToTheLastSamples) {
  const int64_t n = kIn / 2;
  for (const double hz : {440.0, 7000.0}) {
    const auto out = resample(sine(hz, kIn, n), {777});
    const auto ideal = sine(hz, kOut, static_cast<int64_t>(out.size()));
    // The abrupt start and end ring; between them, the same sine, in phase.
    float worst = 0.0f;
    for (size_t i = 480; i + 480 < out.size(); ++i)
      worst = std::max(worst, std::fabs(out[i] - ideal[i]));
    EXPECT_LT(worst, 2e-3f) << hz << " Hz";
    // The filter's tail was delivered: the sine goes on to the last few samples.
    float tail = 0.0f;
    for (size_t i = out.size() - 200; i < out.size() - 20; ++i)
      tail = std::max(tail, std::fabs(out[i]));
    EXPECT_GT(tail, 0.3f) << hz << " Hz";
  }
}

TEST(ResampleSink, HoldsBackLittleWhileStreaming) {
  CollectingSink sink;
  ResampleSink resampler(kIn, kOut, sink);
  const auto input = sine(440.0, kIn, kIn);
  resampler.begin(kIn);
  const int64_t first = kIn / 10;  // 100 ms
  ASSERT_TRUE(resampler.write(input.data(), first));
  const int64_t held = resampler.output_samples(first) - static_cast<int64_t>(sink.samples.size());
  EXPECT_GE(held, 0);
  EXPECT_LE(held, kOut / 50) << "more than 20 ms held back";
}

TEST(ResampleSink, EachUtteranceStartsAfresh) {
  const auto a = sine(440.0, kIn, 3000), b = sine(1000.0, kIn, 5000);
  CollectingSink sink;
  ResampleSink resampler(kIn, kOut, sink);
  resampler.begin(4000);  // left unfinished: dropped
  ASSERT_TRUE(resampler.write(a.data(), 1000));
  for (const auto *utterance : {&a, &b}) {
    resampler.begin(static_cast<int64_t>(utterance->size()));
    ASSERT_TRUE(resampler.write(utterance->data(), static_cast<int64_t>(utterance->size())));
  }
  const auto alone_a = resample(a, {3000}), alone_b = resample(b, {5000});
  std::vector<float> expected(
      sink.samples.begin(),
      sink.samples.end() - static_cast<long>(alone_a.size() + alone_b.size()));
  expected.insert(expected.end(), alone_a.begin(), alone_a.end());
  expected.insert(expected.end(), alone_b.begin(), alone_b.end());
  ASSERT_EQ(sink.samples.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i)
    ASSERT_NEAR(sink.samples[i], expected[i], 1e-6f) << i;
}

TEST(ResampleSink, StopsWhenTheInnerSinkSaysSo) {
  CollectingSink sink(1);
  ResampleSink resampler(kIn, kOut, sink);
  const auto input = sine(440.0, kIn, kIn);
  resampler.begin(kIn);
  EXPECT_FALSE(resampler.write(input.data(), kIn));
  EXPECT_EQ(sink.writes, 1);
}

TEST(ResampleSink, RefusesRatesThatAreNotPositive) {
  CollectingSink sink;
  EXPECT_THROW(ResampleSink(0, kOut, sink), std::runtime_error);
  EXPECT_THROW(ResampleSink(kIn, -1, sink), std::runtime_error);
}

}  // namespace
