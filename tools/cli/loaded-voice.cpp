#include "loaded-voice.h"

#include "cli-error.h"
#include "korva.h"

LoadedVoice::LoadedVoice(const std::string &path, const char *espeak_data) {
  if (korva_load(path.c_str(), espeak_data) != 0)
    throw CommandError("cannot load the voice '" + path + "': " + korva_last_error());
}

LoadedVoice::~LoadedVoice() { korva_unload(); }
