#include "api/synthesis.h"

#include <ATen/record_function.h>
#include <torch/torch.h>

#include <cstdlib>
#include <exception>

#include "api/engine-lock.h"
#include "model/korva-vits.h"
#include "model/wave-sink.h"
#include "text/phonemizer.h"
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

}  // namespace

Outcome synthesize_text(KorvaVITSImpl &model, const char *text, const Request &request,
                        WaveSink &sink) {
  int n_ids = 0;
  int32_t *ids = nullptr;
  {
    RECORD_USER_SCOPE("korva::frontend");
    char *phonemes = phonemize(text);
    if (!phonemes) {
      record_error("Phonemize failed");
      return Outcome::kFailed;
    }
    ids = tokenize_to_array(phonemes, &n_ids);
    free(phonemes);
  }
  if (!ids) {
    record_error("Tokenize failed");
    return Outcome::kFailed;
  }
  try {
    auto ids_tensor = torch::from_blob(ids, {1, n_ids}, torch::kInt).to(torch::kLong);
    free(ids);
    ids = nullptr;
    auto lengths = torch::full({1}, n_ids, torch::kLong);
    const SeedScope seed(request.seed);
    const bool done = model.synthesize(ids_tensor, lengths, request.noise_scale,
                                       request.noise_scale_w, request.length_scale, sink);
    return done ? Outcome::kDone : Outcome::kStopped;
  } catch (const std::exception &e) {
    record_error("Inference: %s", e.what());
  } catch (...) {
    record_error("Inference: unknown error");
  }
  free(ids);
  return Outcome::kFailed;
}
