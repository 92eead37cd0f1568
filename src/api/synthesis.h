#pragma once
// The road of one request: text -> ids -> model -> the caller's sink.

#include <cstdint>
#include <vector>

#include "api/request.h"

struct KorvaVITSImpl;
class FrontEnd;
class WaveSink;

enum class Outcome { kDone, kStopped, kFailed };

// Synthesises `text` as `request` says into `sink`, with `voice` the model's
// and `front_end` its front-end. Every failure is reported here, through record_error.
Outcome synthesize_text(KorvaVITSImpl &model, const VoiceFacts &voice, const FrontEnd &front_end,
                        const char *text, const Request &request, WaveSink &sink);

// The same from framed token ids, the front-end skipped. Ids outside the
// voice's vocabulary are refused.
Outcome synthesize_ids(KorvaVITSImpl &model, const VoiceFacts &voice,
                       const std::vector<int32_t> &ids, const Request &request, WaveSink &sink);

// One utterance's ids through the model into `voice_sink`, at the voice's own
// rate: the part of both roads after the front-end.
Outcome run_model(KorvaVITSImpl &model, const VoiceFacts &voice, const std::vector<int32_t> &ids,
                  const Request &request, WaveSink &voice_sink);
