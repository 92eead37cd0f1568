#include "api/synthesis.h"

#include <ATen/record_function.h>
#include <torch/torch.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>

#include "api/engine-lock.h"
#include "api/sentence-road.h"
#include "audio/resample.h"
#include "model/korva-vits.h"
#include "model/wave-sink.h"
#include "text/front-end.h"
#include "text/tokenizer.h"

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

// The tokenizer cuts at kMaxTokens: a cut sequence has a blank where its end id would be.
bool was_cut(const std::vector<int32_t> &ids) {
  return ids.size() >= static_cast<size_t>(kMaxTokens) && ids.back() != kTokenEnd;
}

// Whether the request asks for nothing the original single utterance lacks.
bool as_one_utterance(const Request &request) {
  return !request.split_sentences && !request.normalize && !request.ssml && !request.on_timing;
}

}  // namespace

Outcome synthesize_ids(KorvaVITSImpl &model, const VoiceFacts &voice,
                       const std::vector<int32_t> &ids, const Request &request, WaveSink &sink) {
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
    // The one place where the output rate is settled: the voice's own, or 48 kHz.
    std::optional<ResampleSink> resampled;
    if (voice.sample_rate != kOutputRate && !request.native_rate)
      resampled.emplace(voice.sample_rate, kOutputRate, sink);
    WaveSink &out = resampled ? static_cast<WaveSink &>(*resampled) : sink;
    const bool done =
        model.synthesize(ids_tensor, lengths, request.noise_scale, request.noise_scale_w,
                         request.length_scale, out, ChunkSizes{}, request.speaker);
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
  // Every utterance draws the next seed: a request's own seed for its first,
  // counting up, and the process counter back where it was afterwards.
  const SeedScope seed(request.seed);
  Request counted = request;
  counted.seed.reset();
  if (as_one_utterance(request)) {
    std::vector<int32_t> ids;
    try {
      RECORD_USER_SCOPE("korva::frontend");
      ids = front_end.ids(text);
    } catch (const std::exception &e) {
      record_error("%s", e.what());
      return Outcome::kFailed;
    }
    if (ids.size() <= static_cast<size_t>(kMaxTokens) && !was_cut(ids))
      return synthesize_ids(model, voice, ids, counted, sink);
    fprintf(stderr, "[korva] Text over %d token ids: spoken sentence by sentence\n", kMaxTokens);
    counted.split_sentences = true;
  }
  try {
    SentenceRoad road(model, voice, front_end, counted, sink);
    return request.ssml ? road.speak_ssml(text) : road.speak_text(text, 0);
  } catch (const std::exception &e) {  // the model's own errors are reported where they arise
    record_error("Text: %s", e.what());
  }
  return Outcome::kFailed;
}
