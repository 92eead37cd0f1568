// Long texts streamed through korva_synthesize: time to first audio and peak
// resident memory for one sentence, 1 000 words and 10 000 words, each in a
// fresh process (the benchmark re-runs itself), so that no earlier request
// has raised the peak. Both should stay flat in the text's length.
//   long-text-bench VOICE.pt [--stop-after SECONDS] [--espeak-data DIR]
// --stop-after ends each stream after that much audio (default: the whole
// text; 10 000 words are about an hour of speech). Excluded: the load.

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench-support.h"
#include "child-process.h"
#include "common-words.h"
#include "korva.h"
#include "system-header.h"

namespace {

constexpr int kWordsPerSentence = 12;
constexpr const char *kEspeakData = "/usr/lib/x86_64-linux-gnu/espeak-ng-data";

// Sentences of common words, the same for every run.
std::string make_text(int words) {
  uint32_t state = 2026;
  std::string text;
  for (int i = 0; i < words; ++i) {
    state = state * 1664525u + 1013904223u;
    std::string word = kVocabulary[(state >> 8) % kVocabularySize];
    if (i % kWordsPerSentence == 0) word[0] = static_cast<char>(std::toupper(word[0]));
    text += word;
    text += (i % kWordsPerSentence == kWordsPerSentence - 1 || i + 1 == words) ? ". " : " ";
  }
  return text;
}

struct Stream {
  std::chrono::steady_clock::time_point start;
  double first_audio = -1.0;  // s
  int64_t samples = 0;
  int64_t stop_after = 0;  // samples; 0: never
};

int on_audio(const float *, int count, void *user) {
  auto *s = static_cast<Stream *>(user);
  if (s->first_audio < 0.0) s->first_audio = seconds_since(s->start);
  s->samples += count;
  return s->stop_after > 0 && s->samples >= s->stop_after ? 1 : 0;
}

// Child: streams a text of `words` words; prints first audio (s), audio (s),
// wall time (s) and the peak resident size during the request (MiB).
int child(const std::string &voice, const std::string &espeak, int words, double stop_after) {
  if (korva_load(voice.c_str(), espeak.c_str()) != 0) return 1;
  const std::string text = make_text(words);
  korva_options options;
  korva_options_default(&options, sizeof options);
  options.seed = 0;
  Stream stream;
  stream.stop_after = static_cast<int64_t>(stop_after * 48000.0);
  reset_peak_rss();
  stream.start = std::chrono::steady_clock::now();
  if (korva_synthesize(text.c_str(), &options, on_audio, &stream) != 0) return 1;
  std::printf("%.3f %.1f %.1f %.1f\n", stream.first_audio,
              static_cast<double>(stream.samples) / 48000.0, seconds_since(stream.start),
              peak_rss_mib());
  korva_unload();
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: long-text-bench VOICE.pt [--stop-after SECONDS] [--espeak-data DIR]\n");
    return 2;
  }
  const std::string voice = argv[1];
  double stop_after = 0.0;
  std::string espeak = kEspeakData;
  int child_words = -1;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--stop-after")
      stop_after = std::atof(argv[i + 1]);
    else if (flag == "--espeak-data")
      espeak = argv[i + 1];
    else if (flag == "--child")
      child_words = std::atoi(argv[i + 1]);
  }
  if (child_words >= 0) return child(voice, espeak, child_words, stop_after);

  print_system_header("2");
  char note[64] = "";
  if (stop_after > 0)
    std::snprintf(note, sizeof note, ", each stopped after %.0f s of audio", stop_after);
  std::printf("\n## Long texts streamed through korva_synthesize, a fresh process each%s\n\n",
              note);
  std::printf(
      "| text | first audio, s | audio streamed, s | wall, s | peak RSS, MiB "
      "|\n|---|---|---|---|---|\n");
  for (const int words : {kWordsPerSentence, 1000, 10000}) {
    const auto out = run_self({voice, "--child", std::to_string(words), "--stop-after",
                               std::to_string(stop_after), "--espeak-data", espeak});
    double first = 0, audio = 0, wall = 0, peak = 0;
    if (!out || std::sscanf(out->c_str(), "%lf %lf %lf %lf", &first, &audio, &wall, &peak) != 4) {
      std::printf("| %d words | failed | | | |\n", words);
      continue;
    }
    std::printf("| %d words | %.2f | %.1f | %.1f | %.0f |\n", words, first, audio, wall, peak);
    std::fflush(stdout);
  }
  return 0;
}
