#pragma once
// Consistency of a parsed voice description: sizes that each look fine alone
// but could not build one network together.

#include "voice/voice-description.h"

// Throws VoiceError naming the first field at fault.
void check_voice_description(const VoiceDescription &voice);
