#include "audio/resample.h"

#include <soxr.h>

#include <stdexcept>
#include <string>

namespace {

constexpr size_t kBatch = 8192;  // output samples per hand-on

void check(soxr_error_t error) {
  if (error) throw std::runtime_error(std::string("resampler: ") + error);
}

}  // namespace

ResampleSink::ResampleSink(int input_rate, int output_rate, WaveSink &inner)
    : inner_(inner), input_rate_(input_rate), output_rate_(output_rate), out_(kBatch) {
  if (input_rate <= 0 || output_rate <= 0)
    throw std::runtime_error("resampler: rates must be positive, got " +
                             std::to_string(input_rate) + " and " + std::to_string(output_rate) +
                             " Hz");
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_LINEAR_PHASE);
  // Smaller transform blocks than the defaults (2^10 and 2^17) hold back about
  // half as much (under 20 ms at 22 050 -> 48 000 Hz), for little more work.
  soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  runtime.log2_min_dft_size = 8;
  runtime.log2_large_dft_size = 10;
  soxr_error_t error = nullptr;
  resampler_ = soxr_create(input_rate, output_rate, 1, &error, nullptr, &quality, &runtime);
  check(error);
}

ResampleSink::~ResampleSink() { soxr_delete(resampler_); }

int64_t ResampleSink::output_samples(int64_t input_samples) const {
  return (2 * input_samples * output_rate_ + input_rate_) / (2 * input_rate_);
}

void ResampleSink::begin(int64_t total_samples) {
  if (remaining_ > 0) check(soxr_clear(resampler_));
  remaining_ = total_samples;
  inner_.begin(output_samples(total_samples));
}

bool ResampleSink::write(const float *samples, int64_t count) {
  remaining_ -= count;
  if (!process(samples, count)) return false;
  if (remaining_ > 0) return true;
  // The end of the utterance: what the filter holds, then a fresh start for the next one.
  const bool go_on = process(nullptr, 0);
  check(soxr_clear(resampler_));
  remaining_ = 0;
  return go_on;
}

bool ResampleSink::process(const float *samples, int64_t count) {
  size_t offset = 0;
  for (;;) {
    const size_t rest = static_cast<size_t>(count) - offset;
    size_t used = 0, made = 0;
    check(soxr_process(resampler_, samples ? samples + offset : nullptr, rest, &used, out_.data(),
                       out_.size(), &made));
    offset += used;
    if (made > 0 && !inner_.write(out_.data(), static_cast<int64_t>(made))) return false;
    // A full batch may leave more output waiting; once the input has ended, only
    // an empty batch says the filter is drained.
    const bool fed = !samples || offset == static_cast<size_t>(count);
    if (fed && (samples ? made < out_.size() : made == 0)) return true;
  }
}
