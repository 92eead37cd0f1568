#pragma once
// Positions in a request's audio, in one unit: output samples, at the rate the
// caller receives (48 kHz, or the voice's own rate). The model counts in voice
// samples (frames x samples per frame); each utterance is resampled on its own
// and its N voice samples become output_samples_of_voice(N) output samples,
// which is where the utterance's next one starts. Silences and breaks are
// output samples from the start.

#include <cstdint>

class SampleClock {
 public:
  SampleClock(int voice_rate, int output_rate)
      : voice_rate_(voice_rate), output_rate_(output_rate) {}

  // Output samples delivered so far in the request.
  int64_t now() const { return output_samples_; }
  void advance(int64_t output_samples) { output_samples_ += output_samples; }

  // `voice_samples` from an utterance's start, in output samples from its start:
  // the resampler's length for that many, rounded to the nearest sample.
  int64_t output_samples_of_voice(int64_t voice_samples) const {
    if (voice_rate_ == output_rate_) return voice_samples;
    return (2 * voice_samples * output_rate_ + voice_rate_) / (2 * int64_t{voice_rate_});
  }
  // `seconds` of audio, in output samples.
  int64_t output_samples_of(float seconds) const {
    return static_cast<int64_t>(static_cast<double>(seconds) * output_rate_ + 0.5);
  }

 private:
  int voice_rate_;
  int output_rate_;
  int64_t output_samples_ = 0;
};
