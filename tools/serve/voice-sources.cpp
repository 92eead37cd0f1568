#include "voice-sources.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>

#include "cli-error.h"

namespace fs = std::filesystem;

namespace {

// Names travel in JSON, URLs and Wyoming events: letters, digits, "-", "_", ".".
void check_name(const std::string &name, const std::string &argument) {
  const bool plain = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
  });
  if (!plain) {
    throw UsageError("-m " + argument + ": a voice's name is letters, digits, '-', '_' and '.'");
  }
}

void add_directory(const fs::path &directory, std::vector<VoiceSource> &sources) {
  std::vector<fs::path> archives;
  std::error_code error;
  for (const fs::directory_entry &entry : fs::directory_iterator(directory, error)) {
    if (entry.path().extension() == ".pt" && entry.is_regular_file()) {
      archives.push_back(entry.path());
    }
  }
  if (archives.empty()) {
    throw UsageError("-m " + directory.string() + ": the directory holds no voice (*.pt)");
  }
  std::sort(archives.begin(), archives.end());
  for (const fs::path &archive : archives) {
    sources.push_back({archive.stem().string(), archive.string()});
  }
}

}  // namespace

std::vector<VoiceSource> voice_sources(const std::vector<std::string> &arguments) {
  std::vector<VoiceSource> sources;
  for (const std::string &argument : arguments) {
    const size_t equals = argument.find('=');
    if (equals != std::string::npos) {
      sources.push_back({argument.substr(0, equals), argument.substr(equals + 1)});
    } else if (fs::is_directory(argument)) {
      add_directory(argument, sources);
    } else {
      sources.push_back({fs::path(argument).stem().string(), argument});
    }
  }
  std::set<std::string> names;
  for (const VoiceSource &source : sources) {
    check_name(source.name, source.name + "=" + source.path);
    if (!names.insert(source.name).second) {
      throw UsageError("two voices are called '" + source.name +
                       "': name them apart with -m NAME=VOICE.pt");
    }
  }
  return sources;
}
