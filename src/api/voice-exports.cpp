// Voices as handles: any number open at once, each closed on its own, and
// requests on them from any threads in parallel.
#include <algorithm>
#include <cstring>
#include <memory>

#include "api/export-call.h"
#include "api/voice.h"
#include "korva.h"

// What korva_voice_open hands out: a share of the voice, which requests still
// running keep after korva_voice_close.
struct korva_voice {
  std::shared_ptr<Voice> voice;
};

namespace {

korva_voice_config default_config() {
  korva_voice_config config{};
  config.size = sizeof config;
  config.espeak_data = nullptr;
  config.intra_op_threads = 0;
  config.precision = KORVA_PRECISION_FP32;
  return config;
}

// `given` (NULL: the defaults) as a VoiceConfig, or nullopt after reporting why not.
std::optional<VoiceConfig> checked_config(const korva_voice_config *given) {
  korva_voice_config config = default_config();
  if (given) {
    if (given->size < sizeof(given->size)) {
      record_error(
          "Bad voice config: size %zu does not even cover the size field: start from "
          "korva_voice_config_default",
          given->size);
      return std::nullopt;
    }
    std::memcpy(&config, given, std::min(given->size, sizeof config));
  }
  if (config.intra_op_threads < 0 || config.intra_op_threads > 1024) {
    record_error("Bad voice config: intra_op_threads must be 0 (shared) to 1024, not %d",
                 config.intra_op_threads);
    return std::nullopt;
  }
  const auto bf16 = bf16_of(config.precision);
  if (!bf16) return std::nullopt;
  VoiceConfig checked;
  checked.espeak_data = config.espeak_data;
  checked.intra_op_threads = config.intra_op_threads;
  checked.bf16 = *bf16;
  return checked;
}

// The voice of a handle, or null after reporting that there is none. The call
// holds it, so that a close meanwhile leaves it to the call until it returns.
std::shared_ptr<Voice> voice_of(korva_voice *handle) {
  if (!handle) record_error("No voice given");
  return handle ? handle->voice : nullptr;
}

}  // namespace

extern "C" {

KORVA_API int korva_voice_config_default(korva_voice_config *config, size_t size) {
  return run_export(-1, [&] {
    if (!config || size < sizeof(config->size)) {
      record_error("%s", !config ? "No voice config given"
                                 : "Voice config size smaller than its size field");
      return -1;
    }
    const korva_voice_config defaults = default_config();
    std::memcpy(config, &defaults, std::min(size, sizeof defaults));
    config->size = size;
    return 0;
  });
}

KORVA_API korva_voice *korva_voice_open(const char *path, const korva_voice_config *config) {
  return run_export<korva_voice *>(nullptr, [&]() -> korva_voice * {
    if (!path) {
      record_error("No voice path given");
      return nullptr;
    }
    const auto checked = checked_config(config);
    if (!checked) return nullptr;
    auto voice = Voice::open(path, *checked, std::make_shared<std::atomic<int>>(0));
    return voice ? new korva_voice{std::move(voice)} : nullptr;
  });
}

KORVA_API void korva_voice_close(korva_voice *voice) {
  run_void_export([&] { delete voice; });
}

KORVA_API int korva_voice_synthesize(korva_voice *handle, const char *text,
                                     const korva_options *options, korva_audio_cb callback,
                                     void *user) {
  return run_export(-1, [&] {
    const std::shared_ptr<Voice> voice = voice_of(handle);
    if (!voice) return -1;
    if (!text || !callback) {
      record_error(!text ? "No text given" : "No audio callback given");
      return -1;
    }
    const auto request = voice->options_request(options);
    return request ? voice->stream(text, *request, callback, user) : -1;
  });
}

KORVA_API int korva_voice_synthesize_ids(korva_voice *handle, const int32_t *ids, int n_ids,
                                         const korva_options *options, korva_audio_cb callback,
                                         void *user) {
  return run_export(-1, [&] {
    const std::shared_ptr<Voice> voice = voice_of(handle);
    if (!voice) return -1;
    if (!ids || n_ids <= 0 || !callback) {
      record_error(!callback ? "No audio callback given" : "No token ids given");
      return -1;
    }
    const auto request = voice->options_request(options);
    return request ? voice->stream_ids(ids, n_ids, *request, callback, user) : -1;
  });
}

KORVA_API int korva_voice_set_precision(korva_voice *handle, int precision) {
  return run_export(-1, [&] {
    const std::shared_ptr<Voice> voice = voice_of(handle);
    const auto bf16 = voice ? bf16_of(precision) : std::nullopt;
    if (!bf16) return -1;
    voice->set_bf16(*bf16);
    return 0;
  });
}

KORVA_API korva_text_ids *korva_voice_text_to_ids(korva_voice *handle, const char *text,
                                                  const korva_options *options) {
  return run_export<korva_text_ids *>(nullptr, [&]() -> korva_text_ids * {
    const std::shared_ptr<Voice> voice = voice_of(handle);
    if (!voice) return nullptr;
    if (!text) {
      record_error("No text given");
      return nullptr;
    }
    return voice->text_ids(text, options);
  });
}

KORVA_API int korva_voice_get_info(korva_voice *handle, korva_voice_info *info, size_t size) {
  return run_export(-1, [&] {
    const std::shared_ptr<Voice> voice = voice_of(handle);
    return voice ? voice->describe(info, size) : -1;
  });
}

KORVA_API const char *korva_voice_speaker_name(korva_voice *handle, int speaker) {
  return run_export<const char *>(nullptr, [&]() -> const char * {
    const std::shared_ptr<Voice> voice = voice_of(handle);
    return voice ? voice->speaker_name(speaker) : nullptr;
  });
}

}  // extern "C"
