#pragma once
// Resampling on the way to another sink: each chunk is converted as it arrives
// (libsoxr, high quality, linear phase), so streaming stays streaming; the
// samples equal those of converting the whole utterance at once, within float
// rounding. The filter holds back a few milliseconds of output, released when
// the utterance's last input sample arrives.

#include <cstdint>
#include <vector>

#include "model/wave-sink.h"

struct soxr;

class ResampleSink : public WaveSink {
 public:
  // input_rate and output_rate in Hz, positive; `inner` receives the output and
  // must outlive this sink. Throws std::runtime_error when the resampler cannot be made.
  ResampleSink(int input_rate, int output_rate, WaveSink &inner);
  ~ResampleSink() override;
  ResampleSink(const ResampleSink &) = delete;
  ResampleSink &operator=(const ResampleSink &) = delete;

  // Handed on as they are: frames and samples per frame are the input's.
  void durations(const std::vector<int64_t> &frames_per_id, int64_t samples_per_frame) override {
    inner_.durations(frames_per_id, samples_per_frame);
  }
  // Starts an utterance of total_samples input samples: the inner sink begins
  // one of output_samples(total_samples). An utterance left unfinished is dropped.
  void begin(int64_t total_samples) override;
  // The chunks of one utterance add up to the total given to begin; the last one
  // also releases what the filter holds. Returns false once the inner sink
  // stopped; throws std::runtime_error on a resampler failure.
  bool write(const float *samples, int64_t count) override;

  // Output samples of an utterance of `input_samples`: the input's duration at
  // the output rate, rounded to the nearest sample.
  int64_t output_samples(int64_t input_samples) const;

 private:
  // Feeds `count` samples (samples NULL: the end of the input) and hands on all
  // output made.
  bool process(const float *samples, int64_t count);

  soxr *resampler_ = nullptr;
  WaveSink &inner_;
  const int64_t input_rate_, output_rate_;
  int64_t remaining_ = 0;   // input samples of the utterance still to come
  std::vector<float> out_;  // output samples, one batch at a time
};
