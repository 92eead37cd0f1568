#pragma once
// One loaded voice: its model, front-end, description and what requests need
// to know of it, with its own seed counter and precision. Any number may be
// open at once, and requests on one run in parallel: while they run, its
// weights are only read (a change of precision waits for them).

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>

#include "api/request.h"
#include "api/synthesis.h"
#include "korva.h"
#include "voice/voice-description.h"

// Whether `precision` (KORVA_PRECISION_*) asks for bfloat16; nullopt after
// reporting an unknown value or a CPU without native bfloat16: there the
// tensor library emulates it, slower than float32 and further from it.
std::optional<bool> bf16_of(int precision);

struct VoiceConfig {
  const char *espeak_data = nullptr;  // nullptr: espeak-ng's default, or the data in use
  int intra_op_threads = 0;           // of each request; 0: the default shared (model/threads.h)
  bool bf16 = false;                  // decoder convolutions in bfloat16
};

class Voice {
 public:
  // Loads the archive at `path`, writing the load's lines; nullptr after
  // reporting why. Requests without a seed of their own take theirs from
  // `seeds`, which the process-wide voice keeps across loads.
  static std::shared_ptr<Voice> open(const char *path, const VoiceConfig &config,
                                     std::shared_ptr<std::atomic<int>> seeds);
  ~Voice();
  Voice(const Voice &) = delete;
  Voice &operator=(const Voice &) = delete;

  const VoiceFacts &facts() const { return facts_; }
  // Fills the first `size` bytes of *info; -1 after reporting why not.
  int describe(korva_voice_info *info, size_t size) const;
  // The name of `speaker`, or nullptr when it has none.
  const char *speaker_name(int speaker) const;

  // The request of korva_tts and korva_tts_stream at `speed`, and that of
  // `options`; nullopt after reporting why not.
  std::optional<Request> speed_request(float speed) const;
  std::optional<Request> options_request(const korva_options *options) const;

  // The whole of `text`, peak-normalised, as a malloc'ed buffer of *count
  // samples at 48 kHz; nullptr after reporting why.
  float *speak(const char *text, const Request &request, int *count);
  // `text`, or framed token ids, handed to `callback` as it is decoded; 0 when
  // spoken or stopped by the callback, -1 after reporting why.
  int stream(const char *text, const Request &request, korva_audio_cb callback, void *user);
  int stream_ids(const int32_t *ids, int n_ids, const Request &request, korva_audio_cb callback,
                 void *user);

  // korva_text_to_ids of `text` on this voice (text-ids.h).
  korva_text_ids *text_ids(const char *text, const korva_options *options) const;

  // Waits for the requests running on this voice, then switches the decoder.
  void set_bf16(bool bf16);

 private:
  Voice(const VoiceConfig &config, std::shared_ptr<std::atomic<int>> seeds);
  // The body of open; false after reporting why.
  bool load(const char *path, const VoiceConfig &config);
  // A request failed: on a partly filled voice the random parameters are the likely cause.
  void explain_failure() const;
  int finish_stream(Outcome outcome, int64_t delivered, const Request &request) const;

  // Returns freed memory to the system once everything below is gone.
  struct MemoryReturn {
    ~MemoryReturn();
  } memory_return_;
  bool phonemizer_started_ = false;
  std::shared_ptr<KorvaVITSImpl> model_;
  std::unique_ptr<FrontEnd> front_end_;
  VoiceDescription description_;
  VoiceFacts facts_;
  int unfilled_ = 0;  // parameters the archive did not fill: they keep their random start
  int parameters_ = 0;
  std::shared_ptr<std::atomic<int>> seeds_;
  const int threads_;
  // Requests hold it shared; a change of the weights' arithmetic holds it alone.
  std::shared_mutex weights_in_use_;
};
