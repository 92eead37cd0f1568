#pragma once
// Passes one utterance's audio on towards the request's output and, as soon
// as the model has fixed its durations, hands the caller where each of its
// words and phonemes lies in the request's audio, in output samples.

#include <cstdint>
#include <vector>

#include "api/sample-clock.h"
#include "korva.h"
#include "model/wave-sink.h"
#include "text/sourced-text.h"
#include "text/utterances.h"

// Where timings go: the caller's callback.
struct TimingTarget {
  korva_timing_cb callback = nullptr;
  void *user = nullptr;
};

class TimingSink : public WaveSink {
 public:
  // `spoken` is the text the utterance's words point into; `clock` stands at
  // the utterance's first output sample when the durations arrive.
  TimingSink(WaveSink &out, const Utterance &utterance, const SourcedText &spoken,
             TimingTarget target, const SampleClock &clock)
      : out_(out), utterance_(utterance), spoken_(spoken), target_(target), clock_(clock) {}

  void durations(const std::vector<int64_t> &frames_per_id, int64_t samples_per_frame) override;
  void begin(int64_t total_samples) override { out_.begin(total_samples); }
  bool write(const float *samples, int64_t count) override;

 private:
  bool emit(int kind, const std::string &text, TextSpan source, int64_t start, int64_t end);

  WaveSink &out_;
  const Utterance &utterance_;
  const SourcedText &spoken_;
  TimingTarget target_;
  const SampleClock &clock_;
  bool stopped_ = false;
};
