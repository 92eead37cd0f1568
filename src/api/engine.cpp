// The exported engine functions and the process-wide engine state.
#include <ATen/record_function.h>
#include <torch/torch.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "api/engine-lock.h"
#include "audio/wav-writer.h"
#include "korva.h"
#include "model/cpu-features.h"
#include "model/flow-self-test.h"
#include "model/korva-vits.h"
#include "model/threads.h"
#include "model/wave-sink.h"
#include "text/phonemizer.h"
#include "text/tokenizer.h"
#include "weights/binder.h"
#include "weights/manifest.h"

namespace {

constexpr int kSampleRate = 48000;
constexpr float kNoiseScale = 0.66f;
constexpr float kNoiseScaleW = 0.66f;
constexpr float kDefaultLengthScale = 1.1f;
constexpr float kTargetPeak = 0.95f;

bool engine_ready = false;
KorvaVITS engine_model{nullptr};
// Chosen by korva_set_precision; kept across loads.
bool engine_bf16 = false;

float length_scale_for(float speed) { return speed > 0.0f ? 1.0f / speed : kDefaultLengthScale; }

// Largest magnitude (NaN never wins) and the gain that brings it to 0.95; quiet
// output at or below 0.01 is left alone.
float normalise_peak(float *samples, int n) {
  float peak = 0.0f;
  for (int i = 0; i < n; ++i)
    if (std::fabs(samples[i]) > peak) peak = std::fabs(samples[i]);
  if (!(peak > 0.01f) || n <= 0) return 1.0f;
  const float gain = kTargetPeak / peak;
  for (int i = 0; i < n; ++i) samples[i] *= gain;
  return gain;
}

// Largest magnitude, NaN if any: from the extremes, without an |x| copy of a
// weight that may be tens of MiB.
float absolute_max(const torch::Tensor &t) {
  return torch::maximum(t.max().abs(), t.min().abs()).item<float>();
}

void print_parameter_report(torch::nn::Module &model) {
  int count = 0;
  for (const auto &item : model.named_parameters(true)) {
    ++count;
    const auto &name = item.key();
    if (name.find("weight") != std::string::npos && name.find("weight_g") == std::string::npos &&
        name.find("weight_v") == std::string::npos)
      fprintf(stderr, "[korva]   PLAIN_WEIGHT: %s absmax=%.4f\n", name.c_str(),
              absolute_max(item.value()));
  }
  fprintf(stderr, "[korva] Model has %d parameter tensors total\n", count);
}

void print_flow_report(torch::nn::Module &flow) {
  for (const auto &item : flow.named_parameters(true))
    if (item.key().find("post") != std::string::npos)
      fprintf(stderr, "[korva] flow.%s: abs_sum=%.6f\n", item.key().c_str(),
              item.value().abs().sum().item<float>());
}

int load_unlocked(const char *weights_path, const char *espeak_data_path) {
  if (engine_ready) {
    fprintf(stderr, "[korva] Already loaded\n");
    return -1;
  }
  if (phonemizer_init(espeak_data_path) != 0) {
    record_error("Failed to init espeak-ng");
    return -1;
  }
  configure_threads();
  engine_model = KorvaVITS();
  engine_model->eval();
  fprintf(stderr, "[korva] Loading weights from %s...\n", weights_path ? weights_path : "(null)");

  std::unique_ptr<Manifest> manifest(weights_path ? manifest_open_path(weights_path) : nullptr);
  if (!manifest) {
    record_error("Failed to load manifest");
    return -1;
  }
  fprintf(stderr, "[korva] Manifest: %zu tensors\n", manifest->entries.size());
  int listed = 0;
  for (const auto &entry : manifest->entries) {
    if (listed++ == 5) break;
    fprintf(stderr, "[korva]   key: %s\n", entry.first.c_str());
  }

  const int loaded = manifest_bind_parameters(*manifest, *engine_model, remap_checkpoint_key);
  fprintf(stderr, "[korva] Loaded %d parameters\n", loaded);
  print_parameter_report(*engine_model);
  manifest.reset();
  if (loaded <= 0) {
    record_error("No parameters loaded \u2014 check keys");
    return -1;
  }

  engine_ready = true;
  if (engine_bf16) engine_model->dec->use_bfloat16(true);
  flow_self_test(*engine_model);
  print_flow_report(*engine_model->flow);
  fprintf(stderr, "[korva] Ready.\n");
  return 0;
}

// Output of korva_tts: one malloc'ed buffer, filled chunk by chunk.
class BufferSink : public WaveSink {
 public:
  ~BufferSink() override { free(samples); }
  void begin(int64_t total_samples) override {
    samples = static_cast<float *>(malloc(static_cast<size_t>(total_samples) * sizeof(float)));
    out_of_memory = samples == nullptr;
  }
  bool write(const float *chunk, int64_t count) override {
    if (!samples) return false;
    std::memcpy(samples + count_, chunk, static_cast<size_t>(count) * sizeof(float));
    count_ += count;
    return true;
  }
  float *release() {
    float *out = samples;
    samples = nullptr;
    return out;
  }
  int count() const { return static_cast<int>(count_); }
  bool out_of_memory = false;

 private:
  float *samples = nullptr;
  int64_t count_ = 0;
};

// Output of korva_tts_stream: the caller's callback.
class CallbackSink : public WaveSink {
 public:
  CallbackSink(korva_audio_cb callback, void *user) : callback_(callback), user_(user) {}
  void begin(int64_t) override {}
  bool write(const float *chunk, int64_t count) override {
    delivered += count;
    return callback_(chunk, static_cast<int>(count), user_) == 0;
  }
  int64_t delivered = 0;

 private:
  korva_audio_cb callback_;
  void *user_;
};

enum class Outcome { kDone, kStopped, kFailed };

// Text -> ids -> model -> sink. Every failure is reported here.
Outcome synthesize_text(const char *input_text, float speed, WaveSink &sink) {
  int n_ids = 0;
  int32_t *ids = nullptr;
  {
    RECORD_USER_SCOPE("korva::frontend");
    char *phonemes = phonemize(input_text);
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
    const bool done = engine_model->synthesize(ids_tensor, lengths, kNoiseScale, kNoiseScaleW,
                                               length_scale_for(speed), sink);
    return done ? Outcome::kDone : Outcome::kStopped;
  } catch (const std::exception &e) {
    record_error("Inference: %s", e.what());
  } catch (...) {
    record_error("Inference: unknown error");
  }
  free(ids);
  return Outcome::kFailed;
}

float *tts_unlocked(const char *input_text, int *sample_count, float speed) {
  if (!engine_ready || !input_text || !sample_count) {
    record_error("Not loaded");
    return nullptr;
  }
  *sample_count = 0;
  BufferSink sink;
  const Outcome outcome = synthesize_text(input_text, speed, sink);
  if (outcome != Outcome::kDone) {
    if (sink.out_of_memory) record_error("Out of memory");
    return nullptr;
  }
  RECORD_USER_SCOPE("korva::output");
  const int n = sink.count();
  float *samples = sink.release();
  const float gain = normalise_peak(samples, n);
  *sample_count = n;
  fprintf(stderr, "[korva] %d samples (%.2fs @ 48kHz, gain=%.1fx)\n", n,
          static_cast<float>(n) / static_cast<float>(kSampleRate), gain);
  return samples;
}

int stream_unlocked(const char *input_text, float speed, korva_audio_cb callback, void *user) {
  if (!engine_ready || !input_text) {
    record_error("Not loaded");
    return -1;
  }
  if (!callback) {
    record_error("No audio callback given");
    return -1;
  }
  CallbackSink sink(callback, user);
  const Outcome outcome = synthesize_text(input_text, speed, sink);
  if (outcome == Outcome::kFailed) return -1;
  fprintf(stderr, "[korva] %lld samples streamed (%.2fs @ 48kHz)%s\n",
          static_cast<long long>(sink.delivered),
          static_cast<float>(sink.delivered) / static_cast<float>(kSampleRate),
          outcome == Outcome::kStopped ? ", stopped by the callback" : "");
  return 0;
}

// Where the CPU lacks native bfloat16 the tensor library emulates it: slower
// than float32 and further from it, so it is refused there.
bool bfloat16_supported() {
  const std::string missing = bfloat16_missing(cpu_features());
  if (missing.empty()) return true;
  record_error("bfloat16 is not supported here: %s", missing.c_str());
  return false;
}

}  // namespace

extern "C" {

KORVA_API int korva_load(const char *weights_path, const char *espeak_data_path) {
  const EngineLock lock;
  if (lock.refused()) return -1;
  try {
    return load_unlocked(weights_path, espeak_data_path);
  } catch (const std::exception &e) {
    // Whatever was built stays in the holder until the next load replaces it.
    engine_ready = false;
    record_error("Load failed: %s", e.what());
  } catch (...) {
    engine_ready = false;
    record_error("Load failed: unknown error");
  }
  return -1;
}

KORVA_API float *korva_tts(const char *input_text, int *sample_count, float speed) {
  const EngineLock lock;
  if (lock.refused()) return nullptr;
  return tts_unlocked(input_text, sample_count, speed);
}

KORVA_API int korva_tts_to_file(const char *input_text, const char *wav_path, float speed) {
  const EngineLock lock;
  if (lock.refused()) return -1;
  int n = 0;
  float *samples = tts_unlocked(input_text, &n, speed);
  if (!samples) return -1;
  int written = -1;
  {
    RECORD_USER_SCOPE("korva::wav");
    const AudioBuffer buffer = make_audio_buffer(samples, n, kSampleRate, 1);
    written = write_wav(wav_path, &buffer);
  }
  free(samples);
  if (written != 0) {
    record_error("Write WAV failed");
    return -1;
  }
  fprintf(stderr, "[korva] Wrote %s\n", wav_path);
  return 0;
}

KORVA_API int korva_tts_stream(const char *input_text, float speed, korva_audio_cb callback,
                               void *user) {
  const EngineLock lock;
  if (lock.refused()) return -1;
  return stream_unlocked(input_text, speed, callback, user);
}

KORVA_API int korva_set_precision(int precision) {
  const EngineLock lock;
  if (lock.refused()) return -1;
  if (precision != KORVA_PRECISION_FP32 && precision != KORVA_PRECISION_BF16) {
    record_error("Unknown precision %d", precision);
    return -1;
  }
  const bool bf16 = precision == KORVA_PRECISION_BF16;
  if (bf16 && !bfloat16_supported()) return -1;
  engine_bf16 = bf16;
  if (engine_ready) engine_model->dec->use_bfloat16(bf16);
  return 0;
}

KORVA_API void korva_unload(void) {
  const EngineLock lock;
  if (lock.refused()) return;
  if (!engine_ready) return;
  engine_model = KorvaVITS(nullptr);
  phonemizer_shutdown();
  engine_ready = false;
}

}  // extern "C"
