#pragma once
// The sinks one request's audio passes through on its way to the caller,
// built once per request: the model's samples enter at the voice's rate, are
// resampled to the output rate where the two differ (the resampler is the
// last stage before the caller), and are counted by the request's clock as
// they leave. Silences and breaks enter after the resampler, at the output
// rate, so that a second asked for is a second heard.

#include <cstdint>
#include <optional>

#include "api/request.h"
#include "api/sample-clock.h"
#include "audio/resample.h"
#include "model/wave-sink.h"

class OutputChain {
 public:
  // `caller` must outlive the chain. Throws std::runtime_error when the
  // resampler cannot be made.
  OutputChain(const Request &request, WaveSink &caller);
  OutputChain(const OutputChain &) = delete;
  OutputChain &operator=(const OutputChain &) = delete;

  // Where the model's samples go, at the voice's rate.
  WaveSink &voice_side() { return resampled_ ? static_cast<WaveSink &>(*resampled_) : counted_; }
  const SampleClock &clock() const { return counted_.clock; }
  // `samples` of silence at the output rate; false when the caller stopped.
  bool silence(int64_t samples);

 private:
  // The caller's sink, with the clock advanced by every sample handed on.
  struct Counted : WaveSink {
    Counted(WaveSink &out, const Request &request)
        : out(out), clock(request.voice_rate, request.output_rate) {}
    void durations(const std::vector<int64_t> &frames, int64_t samples_per_frame) override {
      out.durations(frames, samples_per_frame);
    }
    void begin(int64_t total_samples) override { out.begin(total_samples); }
    bool write(const float *samples, int64_t count) override {
      clock.advance(count);
      return out.write(samples, count);
    }
    WaveSink &out;
    SampleClock clock;
  };

  Counted counted_;
  std::optional<ResampleSink> resampled_;
};
