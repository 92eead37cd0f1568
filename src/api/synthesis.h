#pragma once
// The road of one request: text -> ids -> model -> the caller's sink.

#include <cstdint>
#include <vector>

#include "api/request.h"

struct KorvaVITSImpl;
class WaveSink;

enum class Outcome { kDone, kStopped, kFailed };

// Synthesises `text` as `request` says into `sink`. Every failure is reported
// here, through record_error.
Outcome synthesize_text(KorvaVITSImpl &model, const char *text, const Request &request,
                        WaveSink &sink);

// Ids within the voice's vocabulary: the tokenizer's ids always lie in its table.
constexpr int64_t kAnyVocabulary = INT32_MAX;

// The same from framed token ids, the front-end skipped. Ids outside
// [0, n_vocab) are refused.
Outcome synthesize_ids(KorvaVITSImpl &model, const std::vector<int32_t> &ids, int64_t n_vocab,
                       const Request &request, WaveSink &sink);
