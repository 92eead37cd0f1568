#pragma once
// The voices of the command line: each -m is NAME=ARCHIVE, an ARCHIVE (named
// after its file, without ".pt"), or a directory (each "*.pt" in it, by name).

#include <string>
#include <vector>

#include "voice-shelf.h"

// Throws UsageError for a bad name, a name given twice, or a directory without voices.
std::vector<VoiceSource> voice_sources(const std::vector<std::string> &arguments);
