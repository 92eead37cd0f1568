#include "api/synthesis.h"

#include <ATen/record_function.h>
#include <torch/torch.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>

#include "api/error-report.h"
#include "api/request-seeds.h"
#include "api/sentence-road.h"
#include "audio/resample.h"
#include "log/log.h"
#include "model/korva-vits.h"
#include "model/wave-sink.h"
#include "text/front-end.h"
#include "text/tokenizer.h"

static_assert(KORVA_MAX_IDS == kMaxTokens, "korva.h's id limit is the text path's");

namespace {

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
  // The text path cuts its utterances at this length; ids cannot be cut for it.
  if (ids.size() > static_cast<size_t>(kMaxTokens)) {
    record_error("%zu token ids: an utterance has at most %d", ids.size(), kMaxTokens);
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
    // The one place where the output rate is settled: the voice's own, or 48 kHz.
    std::optional<ResampleSink> resampled;
    if (voice.sample_rate != kOutputRate && !request.native_rate)
      resampled.emplace(voice.sample_rate, kOutputRate, sink);
    WaveSink &out = resampled ? static_cast<WaveSink &>(*resampled) : sink;
    const bool done = model.synthesize(ids_tensor, lengths, request.noise_scale,
                                       request.noise_scale_w, request.length_scale,
                                       request.seeds->next(), out, ChunkSizes{}, request.speaker);
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
  Request counted = request;
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
    log_line(LogLevel::kInfo, "[korva] Text over %d token ids: spoken sentence by sentence",
             kMaxTokens);
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
