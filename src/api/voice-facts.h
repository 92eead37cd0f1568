#pragma once
// What requests need to know of a voice, taken from its description.

#include "api/request.h"
#include "voice/voice-description.h"

VoiceFacts voice_facts(const VoiceDescription &voice);
