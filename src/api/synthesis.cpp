#include "api/synthesis.h"

#include <ATen/record_function.h>
#include <torch/torch.h>

#include <exception>

#include "api/engine-lock.h"
#include "model/korva-vits.h"
#include "model/wave-sink.h"
#include "text/front-end.h"

namespace {

// A request with a seed of its own leaves the process-wide counter where it was.
class SeedScope {
 public:
  explicit SeedScope(const std::optional<int64_t> &seed) : saved_(seed_counter), own_(seed) {
    if (own_) seed_counter = static_cast<int>(*seed);
  }
  ~SeedScope() {
    if (own_) seed_counter = saved_;
  }
  SeedScope(const SeedScope &) = delete;
  SeedScope &operator=(const SeedScope &) = delete;

 private:
  int saved_;
  bool own_;
};

constexpr int kOutputRate = 48000;

// The one place where the output rate is settled: the voice's own, or 48 kHz.
// Returns false after reporting why a request cannot have its rate.
bool output_rate_available(const VoiceFacts &voice, const Request &request) {
  if (request.native_rate || voice.sample_rate == kOutputRate) return true;
  // TODO(identity): wrap the sink in the 48 kHz resampler (src/audio/resample)
  // here once it lands; until then only the native rate is available.
  record_error(
      "This voice speaks at %d Hz and resampling to 48000 Hz is not available yet: ask for the "
      "voice's native rate (native_rate = 1)",
      voice.sample_rate);
  return false;
}

}  // namespace

Outcome synthesize_ids(KorvaVITSImpl &model, const VoiceFacts &voice,
                       const std::vector<int32_t> &ids, const Request &request, WaveSink &sink) {
  const int64_t n_vocab = voice.n_vocab;
  if (!output_rate_available(voice, request)) return Outcome::kFailed;
  if (ids.empty()) {
    record_error("No token ids given");
    return Outcome::kFailed;
  }
  for (size_t i = 0; i < ids.size(); ++i) {
    if (ids[i] < 0 || ids[i] >= n_vocab) {
      record_error("Token id %d at position %zu is outside the voice's vocabulary of %lld", ids[i],
                   i, static_cast<long long>(n_vocab));
      return Outcome::kFailed;
    }
  }
  try {
    auto ids_tensor =
        torch::tensor(c10::ArrayRef<int32_t>(ids), torch::kInt).to(torch::kLong).unsqueeze(0);
    auto lengths = torch::full({1}, static_cast<int64_t>(ids.size()), torch::kLong);
    const SeedScope seed(request.seed);
    const bool done =
        model.synthesize(ids_tensor, lengths, request.noise_scale, request.noise_scale_w,
                         request.length_scale, sink, ChunkSizes{}, request.speaker);
    return done ? Outcome::kDone : Outcome::kStopped;
  } catch (const std::exception &e) {
    record_error("Inference: %s", e.what());
  } catch (...) {
    record_error("Inference: unknown error");
  }
  return Outcome::kFailed;
}

Outcome synthesize_text(KorvaVITSImpl &model, const VoiceFacts &voice, const FrontEnd &front_end,
                        const char *text, const Request &request, WaveSink &sink) {
  std::vector<int32_t> ids;
  try {
    RECORD_USER_SCOPE("korva::frontend");
    ids = front_end.ids(text);
  } catch (const std::exception &e) {
    record_error("%s", e.what());
    return Outcome::kFailed;
  }
  return synthesize_ids(model, voice, ids, request, sink);
}
