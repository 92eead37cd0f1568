#pragma once
// One synthesis request as the engine runs it: the caller's korva_options,
// checked and completed with the loaded voice's defaults.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "korva.h"

// What a request's defaults and checks need to know of the loaded voice.
struct VoiceFacts {
  int sample_rate = 48000;  // Hz, of the decoder's output
  int n_speakers = 1;
  int64_t n_vocab = 49;                    // token ids 0 .. n_vocab - 1
  std::map<std::string, int> speaker_ids;  // name -> id, where the voice names them
  float noise_scale = 0.66f;
  float noise_scale_w = 0.66f;
  float length_scale = 1.0f;
  float sentence_silence = 0.2f;  // seconds between sentences unless a request says otherwise
  bool korva_front_end = true;  // reads word by word: word timings and SSML phonemes
};

struct Request {
  float length_scale = 1.0f;
  float noise_scale = 0.66f;
  float noise_scale_w = 0.66f;
  int speaker = 0;
  std::optional<int64_t> seed;  // none: the process-wide counter's next value
  bool native_rate = false;
  bool normalize = false;
  bool ssml = false;
  bool split_sentences = false;
  float sentence_silence = 0.0f;  // seconds
  korva_timing_cb on_timing = nullptr;
  void *timing_user = nullptr;
  int voice_rate = 48000;   // Hz, of the model's samples
  int output_rate = 48000;  // Hz, of what the caller receives
};

// The defaults of korva_options_default.
korva_options default_options();

// The request of korva_tts, korva_tts_to_file and korva_tts_stream: the text as
// it is, with the original length scale for `speed` (1 / speed, or 1.1 for
// speed 0, negative or NaN) times the voice's own; nullopt with the reason in
// *error for an infinite speed, whose length scale of 0 would give no speech.
std::optional<Request> legacy_request(float speed, const VoiceFacts &voice, std::string *error);

// `options` (NULL: the defaults) as a request, or nullopt with the reason in *error.
std::optional<Request> request_from_options(const korva_options *options, const VoiceFacts &voice,
                                            std::string *error);

// Whether the request asks for nothing the original single utterance lacks:
// the text is then read whole, as the seven functions always read it.
bool reads_whole_text(const Request &request);
