#pragma once
// Parses and checks a voice description record ("voice.json"). Keys left out
// keep the constructed voice's sizes; unknown keys, wrong types, values out of
// range and sizes that do not fit together are refused.

#include <stdexcept>
#include <string>

#include "voice/voice-description.h"

// The record's name inside the weights archive.
inline constexpr const char *kVoiceRecord = "voice.json";

// Why a description was refused: "voice.json: <field>: <problem>", the field
// dotted from the top ("decoder.upsample_rates[2]").
class VoiceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws VoiceError "voice.json: <field>: <problem>".
[[noreturn]] void refuse_field(const std::string &field, const std::string &problem);

// Throws VoiceError.
VoiceDescription parse_voice_description(const std::string &json);
