#pragma once
// The request and the input `korva speak` was given: its options parsed and
// checked, each refusal naming the option.

#include <cstdint>
#include <string>
#include <vector>

#include "args.h"
#include "korva.h"

// The per-request options. Pointers in it (the speaker's name) point into `args`.
korva_options speak_request(const ParsedArgs &args);

// "0,12,0,..." as token ids; throws UsageError for anything else.
std::vector<int32_t> parse_ids(const std::string &text);

// The kind of output file: "wav" (16-bit PCM) or "f32" (raw float32 samples).
enum class SpeakFormat { kWav, kF32 };
SpeakFormat speak_format(const ParsedArgs &args);
