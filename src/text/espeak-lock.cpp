#include "text/espeak-lock.h"

#include <espeak-ng/speak_lib.h>

#include <stdexcept>

namespace {

std::mutex espeak_mutex;
std::string current_language;  // "" when not known; guarded by espeak_mutex

}  // namespace

EspeakLock::EspeakLock() : lock_(espeak_mutex) {}

EspeakLock::EspeakLock(const std::string &language) : lock_(espeak_mutex) {
  if (language == current_language) return;
  current_language.clear();
  if (espeak_SetVoiceByName(language.c_str()) != EE_OK)
    throw std::runtime_error("espeak-ng has no voice '" + language + "'");
  current_language = language;
}

void EspeakLock::forget_language() { current_language.clear(); }
