// The seven original exports and today's extensions: thin calls on the
// process-wide voice that korva_load opens and korva_unload closes.
#include <ATen/record_function.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "api/export-call.h"
#include "api/voice.h"
#include "audio/wav-writer.h"
#include "korva.h"
#include "log/log.h"

namespace {

// Guards the process-wide voice and its precision; held for a load or an
// unload, and only to take the voice for a request, which then runs unlocked.
std::mutex default_mutex;
std::shared_ptr<Voice> default_voice;
// Chosen by korva_set_precision; kept across loads.
bool default_bf16 = false;
// Orders the precision changes, which wait for the voice's running requests,
// without holding default_mutex and with it every other call meanwhile.
std::mutex precision_mutex;
// Seeds of requests without their own: 0, 1, 2, ... in the order the process
// makes them, across loads.
const auto default_seeds = std::make_shared<std::atomic<int>>(0);

std::shared_ptr<Voice> loaded_voice() {
  const std::lock_guard<std::mutex> lock(default_mutex);
  return default_voice;
}

float *tts(const char *input_text, int *sample_count, float speed) {
  const auto voice = loaded_voice();
  if (!voice || !input_text || !sample_count) {
    record_error(!voice ? "Not loaded" : !input_text ? "No text given" : "No sample count given");
    return nullptr;
  }
  *sample_count = 0;
  const auto request = voice->speed_request(speed);
  return request ? voice->speak(input_text, *request, sample_count) : nullptr;
}

// The voice for a streamed request, or nullptr after reporting why not.
std::shared_ptr<Voice> streaming_voice(const char *input_text, korva_audio_cb callback) {
  auto voice = loaded_voice();
  if (!voice || !input_text) {
    record_error(!voice ? "Not loaded" : "No text given");
    return nullptr;
  }
  if (!callback) {
    record_error("No audio callback given");
    return nullptr;
  }
  return voice;
}

}  // namespace

extern "C" {

KORVA_API int korva_load(const char *weights_path, const char *espeak_data_path) {
  return run_export(-1, [&] {
    const std::lock_guard<std::mutex> lock(default_mutex);
    if (default_voice) {
      log_line(LogLevel::kError, "[korva] Already loaded");
      note_error("Already loaded");
      return -1;
    }
    VoiceConfig config;
    config.espeak_data = espeak_data_path;
    config.bf16 = default_bf16;
    default_voice = Voice::open(weights_path, config, default_seeds);
    return default_voice ? 0 : -1;
  });
}

KORVA_API float *korva_tts(const char *input_text, int *sample_count, float speed) {
  return run_export<float *>(nullptr, [&] { return tts(input_text, sample_count, speed); });
}

KORVA_API int korva_tts_to_file(const char *input_text, const char *wav_path, float speed) {
  return run_export(-1, [&] {
    if (loaded_voice() && input_text && !wav_path) {
      record_error("No WAV path given");
      return -1;
    }
    int n = 0;
    float *samples = tts(input_text, &n, speed);
    if (!samples) return -1;
    int written = -1;
    {
      RECORD_USER_SCOPE("korva::wav");
      const AudioBuffer buffer = make_audio_buffer(samples, n, kOutputRate, 1);
      written = write_wav(wav_path, &buffer);
    }
    free(samples);
    if (written != 0) {
      record_error("Write WAV failed");
      return -1;
    }
    log_line(LogLevel::kInfo, "[korva] Wrote %s", wav_path);
    return 0;
  });
}

KORVA_API int korva_tts_stream(const char *input_text, float speed, korva_audio_cb callback,
                               void *user) {
  return run_export(-1, [&] {
    const auto voice = streaming_voice(input_text, callback);
    if (!voice) return -1;
    const auto request = voice->speed_request(speed);
    return request ? voice->stream(input_text, *request, callback, user) : -1;
  });
}

KORVA_API int korva_options_default(korva_options *options, size_t size) {
  return run_export(-1, [&] {
    if (!options) {
      record_error("No options given");
      return -1;
    }
    if (size < sizeof(options->size)) {
      record_error("Options size %zu is smaller than its size field", size);
      return -1;
    }
    const korva_options defaults = default_options();
    std::memcpy(options, &defaults, std::min(size, sizeof defaults));
    options->size = size;
    return 0;
  });
}

KORVA_API int korva_synthesize(const char *text, const korva_options *options,
                               korva_audio_cb callback, void *user) {
  return run_export(-1, [&] {
    const auto voice = streaming_voice(text, callback);
    if (!voice) return -1;
    const auto request = voice->options_request(options);
    return request ? voice->stream(text, *request, callback, user) : -1;
  });
}

KORVA_API int korva_synthesize_ids(const int32_t *ids, int n_ids, const korva_options *options,
                                   korva_audio_cb callback, void *user) {
  return run_export(-1, [&] {
    const auto voice = loaded_voice();
    if (!voice || !ids || n_ids <= 0 || !callback) {
      record_error(!voice      ? "Not loaded"
                   : !callback ? "No audio callback given"
                               : "No token ids given");
      return -1;
    }
    const auto request = voice->options_request(options);
    return request ? voice->stream_ids(ids, n_ids, *request, callback, user) : -1;
  });
}

KORVA_API korva_text_ids *korva_text_to_ids(const char *text, const korva_options *options) {
  return run_export<korva_text_ids *>(nullptr, [&]() -> korva_text_ids * {
    const auto voice = loaded_voice();
    if (!voice || !text) {
      record_error(!voice ? "Not loaded" : "No text given");
      return nullptr;
    }
    return voice->text_ids(text, options);
  });
}

KORVA_API void korva_text_ids_free(korva_text_ids *ids) {
  run_void_export([&] { free(ids); }, Nesting::kAllowed);
}

KORVA_API int korva_get_voice_info(korva_voice_info *info, size_t size) {
  return run_export(-1, [&] {
    const auto voice = loaded_voice();
    if (!voice) {
      record_error("Not loaded");
      return -1;
    }
    return voice->describe(info, size);
  });
}

KORVA_API const char *korva_speaker_name(int speaker) {
  return run_export<const char *>(nullptr, [&]() -> const char * {
    const auto voice = loaded_voice();
    if (!voice) record_error("Not loaded");
    return voice ? voice->speaker_name(speaker) : nullptr;
  });
}

KORVA_API const char *korva_last_error(void) { return last_error_text(); }

KORVA_API int korva_set_precision(int precision) {
  return run_export(-1, [&] {
    const auto bf16 = bf16_of(precision);
    if (!bf16) return -1;
    const std::lock_guard<std::mutex> order(precision_mutex);
    std::shared_ptr<Voice> voice;
    {
      const std::lock_guard<std::mutex> lock(default_mutex);
      default_bf16 = *bf16;
      voice = default_voice;
    }
    if (voice) voice->set_bf16(*bf16);
    return 0;
  });
}

KORVA_API void korva_unload(void) {
  run_void_export([] {
    std::shared_ptr<Voice> closing;
    const std::lock_guard<std::mutex> lock(default_mutex);
    // Requests still running keep the voice until they end.
    closing.swap(default_voice);
  });
}

}  // extern "C"
