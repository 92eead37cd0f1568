#pragma once
// The process-wide voice held for the lifetime of one command.

#include <string>

class LoadedVoice {
 public:
  // Throws CommandError with the library's reason when the voice cannot be loaded.
  LoadedVoice(const std::string &path, const char *espeak_data);
  ~LoadedVoice();
  LoadedVoice(const LoadedVoice &) = delete;
  LoadedVoice &operator=(const LoadedVoice &) = delete;
};
