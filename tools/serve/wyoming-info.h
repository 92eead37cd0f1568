#pragma once
// The answer to Wyoming's "describe": this server as one text-to-speech
// program with its voices, every key present (null where unknown), since
// clients build their objects from these dictionaries.

#include <nlohmann/json.hpp>

#include "voice-shelf.h"

// korva reads English only; the library does not tell a voice's accent.
constexpr const char *kWyomingLanguage = "en_US";

nlohmann::json wyoming_info(const VoiceShelf &shelf);

// A voice's speakers as Wyoming names them: its names, or its ids as text
// where it names none; null for a voice of one speaker.
nlohmann::json wyoming_speakers(const VoiceCard &card);
