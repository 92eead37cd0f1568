#pragma once
// The road of one request: text -> ids -> model -> the caller's sink.

#include "api/request.h"

struct KorvaVITSImpl;
class WaveSink;

enum class Outcome { kDone, kStopped, kFailed };

// Synthesises `text` as `request` says into `sink`. Every failure is reported
// here, through record_error.
Outcome synthesize_text(KorvaVITSImpl &model, const char *text, const Request &request,
                        WaveSink &sink);
