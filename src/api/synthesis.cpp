#include "api/synthesis.h"

#include <ATen/record_function.h>
#include <torch/torch.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>

#include "api/engine-lock.h"
#include "api/output-chain.h"
#include "api/sentence-road.h"
#include "api/voice-output.h"
#include "model/korva-vits.h"
#include "model/wave-sink.h"

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

}  // namespace

Outcome run_model(KorvaVITSImpl &model, const VoiceFacts &voice, const std::vector<int32_t> &ids,
                  const Request &request, WaveSink &voice_sink) {
  const int64_t n_vocab = voice.n_vocab;
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
                         request.length_scale, voice_sink, ChunkSizes{}, request.speaker);
    return done ? Outcome::kDone : Outcome::kStopped;
  } catch (const std::exception &e) {
    record_error("Inference: %s", e.what());
  } catch (...) {
    record_error("Inference: unknown error");
  }
  return Outcome::kFailed;
}

Outcome synthesize_ids(KorvaVITSImpl &model, const VoiceFacts &voice,
                       const std::vector<int32_t> &ids, const Request &request, WaveSink &sink) {
  try {
    OutputChain chain(request, sink);
    return run_model(model, voice, ids, request, chain.voice_side());
  } catch (const std::exception &e) {
    record_error("Inference: %s", e.what());
  }
  return Outcome::kFailed;
}

Outcome synthesize_text(KorvaVITSImpl &model, const VoiceFacts &voice, const FrontEnd &front_end,
                        const char *text, const Request &request, WaveSink &sink) {
  // Every utterance draws the next seed: a request's own seed for its first,
  // counting up, and the process counter back where it was afterwards.
  const SeedScope seed(request.seed);
  Request counted = request;
  counted.seed.reset();
  try {
    VoiceOutput output(model, voice, counted, sink);
    SentenceRoad road(voice, front_end, counted, output);
    return reads_whole_text(request) ? road.speak_whole(text) : road.speak(text);
  } catch (const std::exception &e) {  // the model's own errors are reported where they arise
    record_error("Text: %s", e.what());
  }
  return Outcome::kFailed;
}
