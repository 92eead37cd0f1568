#pragma once
// Positions in a request's audio. Everything is counted in samples at the
// voice's own rate (frames x samples per frame, silences included) and turned
// into the output rate in one place, so that a resampled output keeps exact
// timings: a resampler maps voice sample n to output sample n * out / voice.

#include <cstdint>

class SampleClock {
 public:
  SampleClock(int voice_rate, int output_rate)
      : voice_rate_(voice_rate), output_rate_(output_rate) {}

  // Voice samples delivered so far in the request.
  int64_t now() const { return voice_samples_; }
  void advance(int64_t voice_samples) { voice_samples_ += voice_samples; }

  // Voice sample position -> output sample position (rounded to nearest).
  int64_t output_position(int64_t voice_position) const {
    if (voice_rate_ == output_rate_) return voice_position;
    return (voice_position * output_rate_ + voice_rate_ / 2) / voice_rate_;
  }
  // `seconds` of audio, in voice samples.
  int64_t voice_samples_of(float seconds) const {
    return static_cast<int64_t>(static_cast<double>(seconds) * voice_rate_ + 0.5);
  }

 private:
  int voice_rate_;
  int output_rate_;
  int64_t voice_samples_ = 0;
};
