// The exported engine functions and the process-wide engine state.
#include <ATen/record_function.h>
#include <torch/torch.h>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "api/engine-lock.h"
#include "api/output-sinks.h"
#include "api/request.h"
#include "api/synthesis.h"
#include "api/text-ids.h"
#include "api/voice-facts.h"
#include "audio/peak.h"
#include "audio/wav-writer.h"
#include "korva.h"
#include "model/cpu-features.h"
#include "model/flow-self-test.h"
#include "model/korva-vits.h"
#include "model/threads.h"
#include "text/front-end.h"
#include "text/phonemizer.h"
#include "voice/voice-json.h"
#include "weights/archive-record.h"
#include "weights/binder.h"
#include "weights/manifest.h"

namespace {

constexpr int kSampleRate = 48000;

bool engine_ready = false;
// What requests need to know of the loaded voice, and all it says of itself.
VoiceFacts engine_voice;
VoiceDescription engine_description;
std::unique_ptr<FrontEnd> engine_front_end;
KorvaVITS engine_model{nullptr};
// Chosen by korva_set_precision; kept across loads.
bool engine_bf16 = false;
// Parameters of the loaded voice that its archive did not fill: they keep their
// random start, which is what a failed request then most likely stems from.
int engine_unfilled = 0;
int engine_parameters = 0;

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

// The archive's own description, or the constructed voice's sizes when it has
// none. Throws VoiceError for a description that cannot be a voice.
VoiceDescription described_voice(const std::string &weights_path) {
  const auto record = read_archive_record(weights_path, kVoiceRecord);
  if (!record) return {};
  VoiceDescription voice = parse_voice_description(*record);
  fprintf(stderr, "[korva] Voice: %d Hz, %lld samples a frame, %d speaker(s), front-end %s\n",
          voice.sample_rate, static_cast<long long>(voice.decoder.samples_per_frame()),
          voice.speakers.conditioned() ? voice.speakers.n_speakers : 1,
          front_end_name(voice.front_end.kind));
  return voice;
}

int load_unlocked(const char *weights_path, const char *espeak_data_path) {
  if (engine_ready) {
    fprintf(stderr, "[korva] Already loaded\n");
    return -1;
  }
  if (phonemizer_init(espeak_data_path) != 0) {
    record_error("Failed to init espeak-ng from %s",
                 espeak_data_path ? espeak_data_path : "its default location");
    return -1;
  }
  const SingleThreadScope loading;
  fprintf(stderr, "[korva] Loading weights from %s...\n", weights_path ? weights_path : "(null)");

  std::unique_ptr<Manifest> manifest(weights_path ? manifest_open_path(weights_path) : nullptr);
  if (!manifest) {
    record_error("Failed to load manifest");
    return -1;
  }
  const VoiceDescription voice = described_voice(weights_path);
  engine_model = KorvaVITS(voice);
  engine_model->eval();
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

  engine_parameters = static_cast<int>(engine_model->parameters().size());
  engine_unfilled = std::max(0, engine_parameters - loaded);
  if (engine_unfilled > 0)
    fprintf(stderr,
            "[korva] WARNING: the archive did not provide %d of the voice's %d parameters: they "
            "keep their random start, and the voice will not speak as trained\n",
            engine_unfilled, engine_parameters);

  engine_front_end = make_front_end(voice.front_end);
  engine_description = voice;
  engine_voice = voice_facts(voice);
  engine_model->skip_identity_layers(true);
  engine_ready = true;
  if (engine_bf16) engine_model->dec->use_bfloat16(true);
  flow_self_test(*engine_model);
  print_flow_report(*engine_model->flow);
  fprintf(stderr, "[korva] Ready.\n");
  return 0;
}

// A request failed: on a partly filled voice the random parameters are the likely cause.
void explain_failure() {
  if (engine_unfilled > 0)
    add_error_cause("the voice lacks %d of its %d parameters (see the warning at load)",
                    engine_unfilled, engine_parameters);
}

// The request of the speed-only exports, or nullopt after reporting why not.
std::optional<Request> checked_legacy_request(float speed) {
  std::string problem;
  auto request = legacy_request(speed, engine_voice, &problem);
  if (!request) record_error("Bad speed: %s", problem.c_str());
  return request;
}

// "0.52s @ 48kHz": the summary lines have always printed 48 kHz.
std::string duration_text(int64_t samples, int rate) {
  char text[64];
  if (rate == kSampleRate) {
    snprintf(text, sizeof text, "%.2fs @ 48kHz",
             static_cast<float>(samples) / static_cast<float>(rate));
  } else {
    snprintf(text, sizeof text, "%.2fs @ %d Hz",
             static_cast<float>(samples) / static_cast<float>(rate), rate);
  }
  return text;
}

float *tts_unlocked(const char *input_text, int *sample_count, float speed) {
  if (!engine_ready || !input_text || !sample_count) {
    record_error(!engine_ready  ? "Not loaded"
                 : !input_text ? "No text given"
                               : "No sample count given");
    return nullptr;
  }
  *sample_count = 0;
  const auto request = checked_legacy_request(speed);
  if (!request) return nullptr;
  BufferSink sink;
  const Outcome outcome = synthesize_text(*engine_model, engine_voice, *engine_front_end,
                                          input_text, *request, sink);
  if (outcome != Outcome::kDone) {
    if (sink.out_of_memory()) record_error("Out of memory");
    explain_failure();
    return nullptr;
  }
  RECORD_USER_SCOPE("korva::output");
  const int n = static_cast<int>(sink.count());
  float *samples = sink.release();
  const float gain = normalise_peak(samples, n);
  *sample_count = n;
  fprintf(stderr, "[korva] %d samples (%.2fs @ 48kHz, gain=%.1fx)\n", n,
          static_cast<float>(n) / static_cast<float>(kSampleRate), gain);
  return samples;
}

// The end of a streamed request: its summary line, and the exports' result.
int finish_stream(Outcome outcome, const CallbackSink &sink, const Request &request) {
  if (outcome == Outcome::kFailed) {
    explain_failure();
    return -1;
  }
  const int rate = request.native_rate ? engine_voice.sample_rate : kSampleRate;
  fprintf(stderr, "[korva] %lld samples streamed (%s)%s\n",
          static_cast<long long>(sink.delivered()), duration_text(sink.delivered(), rate).c_str(),
          outcome == Outcome::kStopped ? ", stopped by the callback" : "");
  return 0;
}

// The streaming road of korva_tts_stream and korva_synthesize.
int stream_request(const char *input_text, const Request &request, korva_audio_cb callback,
                   void *user) {
  CallbackSink sink(callback, user);
  return finish_stream(
      synthesize_text(*engine_model, engine_voice, *engine_front_end, input_text, request, sink),
      sink, request);
}

// Checks shared by the streaming exports; reported here.
bool can_stream(const char *input_text, korva_audio_cb callback) {
  if (!engine_ready || !input_text) {
    record_error(!engine_ready ? "Not loaded" : "No text given");
    return false;
  }
  if (!callback) {
    record_error("No audio callback given");
    return false;
  }
  return true;
}

int stream_unlocked(const char *input_text, float speed, korva_audio_cb callback, void *user) {
  if (!can_stream(input_text, callback)) return -1;
  const auto request = checked_legacy_request(speed);
  return request ? stream_request(input_text, *request, callback, user) : -1;
}

// The request `options` describe, or nullopt after reporting why not.
std::optional<Request> checked_request(const korva_options *options) {
  std::string problem;
  auto request = request_from_options(options, engine_voice, &problem);
  if (!request) record_error("Bad options: %s", problem.c_str());
  return request;
}

int synthesize_unlocked(const char *text, const korva_options *options, korva_audio_cb callback,
                        void *user) {
  if (!can_stream(text, callback)) return -1;
  const auto request = checked_request(options);
  return request ? stream_request(text, *request, callback, user) : -1;
}

int synthesize_ids_unlocked(const int32_t *ids, int n_ids, const korva_options *options,
                            korva_audio_cb callback, void *user) {
  if (!engine_ready || !ids || n_ids <= 0 || !callback) {
    record_error(!engine_ready ? "Not loaded"
                 : !callback   ? "No audio callback given"
                               : "No token ids given");
    return -1;
  }
  const auto request = checked_request(options);
  if (!request) return -1;
  CallbackSink sink(callback, user);
  const Outcome outcome = synthesize_ids(
      *engine_model, engine_voice, std::vector<int32_t>(ids, ids + n_ids), *request, sink);
  return finish_stream(outcome, sink, *request);
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
  if (engine_ready && input_text && !wav_path) {
    record_error("No WAV path given");
    return -1;
  }
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

KORVA_API int korva_options_default(korva_options *options, size_t size) {
  if (!options || size < sizeof(options->size)) return -1;
  const korva_options defaults = default_options();
  std::memcpy(options, &defaults, std::min(size, sizeof defaults));
  options->size = size;
  return 0;
}

KORVA_API int korva_synthesize(const char *text, const korva_options *options,
                               korva_audio_cb callback, void *user) {
  const EngineLock lock;
  if (lock.refused()) return -1;
  return synthesize_unlocked(text, options, callback, user);
}

KORVA_API int korva_synthesize_ids(const int32_t *ids, int n_ids, const korva_options *options,
                                   korva_audio_cb callback, void *user) {
  const EngineLock lock;
  if (lock.refused()) return -1;
  return synthesize_ids_unlocked(ids, n_ids, options, callback, user);
}

KORVA_API korva_text_ids *korva_text_to_ids(const char *text, const korva_options *options) {
  const EngineLock lock;
  if (lock.refused()) return nullptr;
  if (!engine_ready || !text) {
    record_error(!engine_ready ? "Not loaded" : "No text given");
    return nullptr;
  }
  return text_to_ids(*engine_front_end, engine_voice, text, options);
}

KORVA_API void korva_text_ids_free(korva_text_ids *ids) { free(ids); }

KORVA_API int korva_get_voice_info(korva_voice_info *info, size_t size) {
  const EngineLock lock;
  if (lock.refused()) return -1;
  if (!engine_ready || !info || size < sizeof(info->size)) return -1;
  korva_voice_info facts{};
  facts.size = size;
  facts.sample_rate = engine_voice.sample_rate;
  facts.n_speakers = engine_voice.n_speakers;
  facts.front_end = front_end_name(engine_description.front_end.kind);
  facts.noise_scale = engine_voice.noise_scale;
  facts.noise_scale_w = engine_voice.noise_scale_w;
  facts.length_scale = engine_voice.length_scale;
  std::memcpy(info, &facts, std::min(size, sizeof facts));
  return 0;
}

KORVA_API const char *korva_speaker_name(int speaker) {
  const EngineLock lock;
  if (lock.refused() || !engine_ready) return nullptr;
  for (const auto &[name, id] : engine_voice.speaker_ids)
    if (id == speaker) return name.c_str();
  return nullptr;
}

KORVA_API const char *korva_last_error(void) { return last_error_text(); }

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
  engine_front_end.reset();
  phonemizer_shutdown();
  engine_ready = false;
  // The allocator keeps the freed weights for the next allocation; a host that
  // unloads wants that memory back.
  malloc_trim(0);
}

}  // extern "C"
