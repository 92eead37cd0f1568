#include "api/output-chain.h"

#include <algorithm>
#include <vector>

namespace {

// Silence is written in pieces of this many samples.
constexpr int64_t kSilenceChunk = 4096;

}  // namespace

OutputChain::OutputChain(const Request &request, WaveSink &caller) : counted_(caller, request) {
  if (request.voice_rate != request.output_rate)
    resampled_.emplace(request.voice_rate, request.output_rate, counted_);
}

bool OutputChain::silence(int64_t samples) {
  if (samples <= 0) return true;
  const std::vector<float> zeros(static_cast<size_t>(std::min(samples, kSilenceChunk)), 0.0f);
  counted_.begin(samples);
  for (int64_t left = samples; left > 0; left -= kSilenceChunk) {
    if (!counted_.write(zeros.data(), std::min(left, kSilenceChunk))) return false;
  }
  return true;
}
