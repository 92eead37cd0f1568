#include "api/voice.h"

#include <ATen/record_function.h>
#include <malloc.h>
#include <torch/torch.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "api/error-report.h"
#include "api/output-sinks.h"
#include "api/request-seeds.h"
#include "api/text-ids.h"
#include "api/voice-facts.h"
#include "audio/peak.h"
#include "log/log.h"
#include "model/cpu-features.h"
#include "model/flow-self-test.h"
#include "model/korva-vits.h"
#include "model/threads.h"
#include "nn/random-start.h"
#include "text/front-end.h"
#include "text/phonemizer.h"
#include "voice/voice-json.h"
#include "weights/archive-record.h"
#include "weights/binder.h"
#include "weights/manifest.h"

namespace {

// Largest magnitude, NaN if any: from the extremes, without an |x| copy of a
// weight that may be tens of MiB.
float absolute_max(const torch::Tensor &t) {
  return torch::maximum(t.max().abs(), t.min().abs()).item<float>();
}

void print_parameter_report(torch::nn::Module &model) {
  if (!log_enabled(LogLevel::kInfo)) return;
  int count = 0;
  for (const auto &item : model.named_parameters(true)) {
    ++count;
    const auto &name = item.key();
    if (name.find("weight") != std::string::npos && name.find("weight_g") == std::string::npos &&
        name.find("weight_v") == std::string::npos)
      log_line(LogLevel::kInfo, "[korva]   PLAIN_WEIGHT: %s absmax=%.4f", name.c_str(),
               absolute_max(item.value()));
  }
  log_line(LogLevel::kInfo, "[korva] Model has %d parameter tensors total", count);
}

void print_flow_report(torch::nn::Module &flow) {
  if (!log_enabled(LogLevel::kInfo)) return;
  for (const auto &item : flow.named_parameters(true))
    if (item.key().find("post") != std::string::npos)
      log_line(LogLevel::kInfo, "[korva] flow.%s: abs_sum=%.6f", item.key().c_str(),
               item.value().abs().sum().item<float>());
}

// The archive's own description, or the constructed voice's sizes when it has
// none. Throws VoiceError for a description that cannot be a voice.
VoiceDescription described_voice(const std::string &weights_path) {
  const auto record = read_archive_record(weights_path, kVoiceRecord);
  if (!record) return {};
  VoiceDescription voice = parse_voice_description(*record);
  log_line(LogLevel::kInfo,
           "[korva] Voice: %d Hz, %lld samples a frame, %d speaker(s), front-end %s",
           voice.sample_rate, static_cast<long long>(voice.decoder.samples_per_frame()),
           voice.speakers.conditioned() ? voice.speakers.n_speakers : 1,
           front_end_name(voice.front_end.kind));
  return voice;
}

// "0.52s @ 48kHz": the summary lines have always printed 48 kHz.
std::string duration_text(int64_t samples, int rate) {
  char text[64];
  if (rate == kOutputRate) {
    snprintf(text, sizeof text, "%.2fs @ 48kHz",
             static_cast<float>(samples) / static_cast<float>(rate));
  } else {
    snprintf(text, sizeof text, "%.2fs @ %d Hz",
             static_cast<float>(samples) / static_cast<float>(rate), rate);
  }
  return text;
}

// What one request holds while it runs: the voice's weights for reading, its
// own seeds and its share of the threads.
class RunningRequest {
 public:
  RunningRequest(std::shared_mutex &weights, const Request &request, std::atomic<int> &counter,
                 int threads)
      : reading_(weights), seeds_(request.seed, counter), request_(request), threads_(threads) {
    request_.seeds = &seeds_;
  }
  RunningRequest(const RunningRequest &) = delete;
  RunningRequest &operator=(const RunningRequest &) = delete;

  const Request &request() const { return request_; }

 private:
  std::shared_lock<std::shared_mutex> reading_;
  RequestSeeds seeds_;
  Request request_;
  RequestThreads threads_;
};

}  // namespace

std::optional<bool> bf16_of(int precision) {
  if (precision != KORVA_PRECISION_FP32 && precision != KORVA_PRECISION_BF16) {
    record_error("Unknown precision %d", precision);
    return std::nullopt;
  }
  if (precision == KORVA_PRECISION_FP32) return false;
  const std::string missing = bfloat16_missing(cpu_features());
  if (missing.empty()) return true;
  record_error("bfloat16 is not supported here: %s", missing.c_str());
  return std::nullopt;
}

Voice::MemoryReturn::~MemoryReturn() {
  // The allocator keeps the freed weights for the next allocation; a host that
  // closes a voice wants that memory back.
  malloc_trim(0);
}

Voice::Voice(const VoiceConfig &config, std::shared_ptr<std::atomic<int>> seeds)
    : seeds_(std::move(seeds)), threads_(config.intra_op_threads) {}

Voice::~Voice() {
  model_.reset();
  front_end_.reset();
  if (phonemizer_started_) phonemizer_shutdown();
}

std::shared_ptr<Voice> Voice::open(const char *path, const VoiceConfig &config,
                                   std::shared_ptr<std::atomic<int>> seeds) {
  std::shared_ptr<Voice> voice(new Voice(config, std::move(seeds)));
  try {
    if (voice->load(path, config)) return voice;
  } catch (const std::exception &e) {
    record_error("Load failed: %s", e.what());
  } catch (...) {
    record_error("Load failed: unknown error");
  }
  return nullptr;
}

bool Voice::load(const char *weights_path, const VoiceConfig &config) {
  std::string why;
  if (phonemizer_init(config.espeak_data, &why) != 0) {
    record_error("Failed to init espeak-ng from %s: %s",
                 config.espeak_data ? config.espeak_data : "its default location", why.c_str());
    return false;
  }
  phonemizer_started_ = true;
  // Loading is copies and small reductions, which more threads do not speed
  // up: they add a fork and a join to each, and on a busy machine the join
  // waits for a thread that is not running (a 0.4 s load took 2 to 7 s on 2 threads).
  const ThreadScope loading(1);
  log_line(LogLevel::kInfo, "[korva] Loading weights from %s...",
           weights_path ? weights_path : "(null)");

  std::unique_ptr<Manifest> manifest(weights_path ? manifest_open_path(weights_path) : nullptr);
  if (!manifest) {
    record_error("Failed to load manifest");
    return false;
  }
  const VoiceDescription voice = described_voice(weights_path);
  DeferredRandomStart deferred;  // the archive fills the weights
  KorvaVITS model(voice);
  model->eval();
  log_line(LogLevel::kInfo, "[korva] Manifest: %zu tensors", manifest->entries.size());
  int listed = 0;
  for (const auto &entry : manifest->entries) {
    if (listed++ == 5) break;
    log_line(LogLevel::kInfo, "[korva]   key: %s", entry.first.c_str());
  }

  const int loaded = manifest_bind_parameters(*manifest, *model, remap_checkpoint_key);
  deferred.draw_unfilled();
  log_line(LogLevel::kInfo, "[korva] Loaded %d parameters", loaded);
  print_parameter_report(*model);
  manifest.reset();
  if (loaded <= 0) {
    record_error("No parameters loaded \u2014 check keys");
    return false;
  }

  parameters_ = static_cast<int>(model->parameters().size());
  unfilled_ = std::max(0, parameters_ - loaded);
  if (unfilled_ > 0)
    log_line(LogLevel::kWarning,
             "[korva] WARNING: the archive did not provide %d of the voice's %d parameters: they "
             "keep their random start, and the voice will not speak as trained",
             unfilled_, parameters_);

  front_end_ = make_front_end(voice.front_end);
  description_ = voice;
  facts_ = voice_facts(voice);
  model->skip_identity_layers(true);
  if (config.bf16) model->use_bfloat16(true);
  flow_self_test(*model);
  print_flow_report(*model->flow);
  model_ = model.ptr();
  log_line(LogLevel::kInfo, "[korva] Ready.");
  return true;
}

int Voice::describe(korva_voice_info *info, size_t size) const {
  if (!info) {
    record_error("No voice info given");
    return -1;
  }
  if (size < sizeof(info->size)) {
    record_error("Voice info size %zu is smaller than its size field", size);
    return -1;
  }
  korva_voice_info facts{};
  facts.size = size;
  facts.sample_rate = facts_.sample_rate;
  facts.n_speakers = facts_.n_speakers;
  facts.front_end = front_end_name(description_.front_end.kind);
  facts.noise_scale = facts_.noise_scale;
  facts.noise_scale_w = facts_.noise_scale_w;
  facts.length_scale = facts_.length_scale;
  std::memcpy(info, &facts, std::min(size, sizeof facts));
  return 0;
}

const char *Voice::speaker_name(int speaker) const {
  for (const auto &[name, id] : facts_.speaker_ids)
    if (id == speaker) return name.c_str();
  return nullptr;
}

std::optional<Request> Voice::speed_request(float speed) const {
  std::string problem;
  auto request = legacy_request(speed, facts_, &problem);
  if (!request) record_error("Bad speed: %s", problem.c_str());
  return request;
}

std::optional<Request> Voice::options_request(const korva_options *options) const {
  std::string problem;
  auto request = request_from_options(options, facts_, &problem);
  if (!request) record_error("Bad options: %s", problem.c_str());
  return request;
}

void Voice::explain_failure() const {
  if (unfilled_ > 0)
    add_error_cause("the voice lacks %d of its %d parameters (see the warning at load)", unfilled_,
                    parameters_);
}

float *Voice::speak(const char *text, const Request &request, int *count) {
  BufferSink sink;
  {
    RunningRequest running(weights_in_use_, request, *seeds_, threads_);
    const Outcome outcome =
        synthesize_text(*model_, facts_, *front_end_, text, running.request(), sink);
    if (outcome != Outcome::kDone) {
      if (sink.out_of_memory()) record_error("Out of memory");
      if (sink.too_long())
        record_error("The audio is over %d samples (about 12 h at 48 kHz), more than one buffer "
                     "returns: stream it (korva_tts_stream)",
                     std::numeric_limits<int>::max());
      explain_failure();
      return nullptr;
    }
  }
  RECORD_USER_SCOPE("korva::output");
  const int n = static_cast<int>(sink.count());
  float *samples = sink.release();
  const float gain = normalise_peak(samples, n);
  *count = n;
  log_line(LogLevel::kInfo, "[korva] %d samples (%.2fs @ 48kHz, gain=%.1fx)", n,
           static_cast<float>(n) / static_cast<float>(kOutputRate), gain);
  return samples;
}

int Voice::stream(const char *text, const Request &request, korva_audio_cb callback, void *user) {
  CallbackSink sink(callback, user);
  Outcome outcome;
  {
    RunningRequest running(weights_in_use_, request, *seeds_, threads_);
    outcome = synthesize_text(*model_, facts_, *front_end_, text, running.request(), sink);
  }
  return finish_stream(outcome, sink.delivered(), request);
}

int Voice::stream_ids(const int32_t *ids, int n_ids, const Request &request,
                      korva_audio_cb callback, void *user) {
  CallbackSink sink(callback, user);
  Outcome outcome;
  {
    RunningRequest running(weights_in_use_, request, *seeds_, threads_);
    outcome = synthesize_ids(*model_, facts_, std::vector<int32_t>(ids, ids + n_ids),
                             running.request(), sink);
  }
  return finish_stream(outcome, sink.delivered(), request);
}

int Voice::finish_stream(Outcome outcome, int64_t delivered, const Request &request) const {
  if (outcome == Outcome::kFailed) {
    explain_failure();
    return -1;
  }
  const int rate = request.native_rate ? facts_.sample_rate : kOutputRate;
  log_line(LogLevel::kInfo, "[korva] %lld samples streamed (%s)%s",
           static_cast<long long>(delivered), duration_text(delivered, rate).c_str(),
           outcome == Outcome::kStopped ? ", stopped by the callback" : "");
  return 0;
}

korva_text_ids *Voice::text_ids(const char *text, const korva_options *options) const {
  return text_to_ids(*front_end_, facts_, text, options);
}

void Voice::set_bf16(bool bf16) {
  const std::unique_lock<std::shared_mutex> alone(weights_in_use_);
  static_cast<KorvaVITSImpl &>(*model_).use_bfloat16(bf16);
}
