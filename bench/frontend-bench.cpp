// Text front-end cost: phonemize + tokenize a fixed 10,000-word English text.
//   frontend-bench [ESPEAK_DATA_DIR]
// The log lines of both stages are formatted as always but sent to /dev/null,
// so a terminal's speed does not enter the figures. Excluded: espeak-ng start-up.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common-words.h"
#include "text/phonemizer.h"
#include "text/tokenizer.h"

namespace {

constexpr int kWords = 10000;
constexpr int kWarmUp = 3;
constexpr int kRepetitions = 21;

const char *const kPunctuation[] = {",", ".", "?", "!", ";"};

std::string make_text() {
  uint32_t state = 12345;
  auto next = [&state] { return (state = state * 1664525u + 1013904223u) >> 8; };
  std::string text;
  for (int i = 0; i < kWords; ++i) {
    if (i) text += ' ';
    text += kVocabulary[next() % kVocabularySize];
    if (next() % 8 == 0) text += kPunctuation[next() % 5];
  }
  return text;
}

double run_once(const std::string &text, std::vector<int32_t> &ids, int *count) {
  const auto start = std::chrono::steady_clock::now();
  char *phonemes = phonemize(text.c_str());
  if (!phonemes) return -1;
  *count = tokenize(phonemes, ids.data(), static_cast<int>(ids.size()));
  std::free(phonemes);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

int main(int argc, char **argv) {
  const char *data = argc > 1 ? argv[1] : "/usr/lib/x86_64-linux-gnu/espeak-ng-data";
  const std::string text = make_text();
  std::vector<int32_t> ids(text.size() * 2 + 3);  // room for every id of the full text

  if (!std::freopen("/dev/null", "w", stderr)) return 1;
  if (phonemizer_init(data) != 0) {
    std::printf("frontend-bench: cannot initialise espeak-ng from %s\n", data);
    return 1;
  }
  std::vector<double> ms;
  int count = 0;
  for (int i = 0; i < kWarmUp + kRepetitions; ++i) {
    const double t = run_once(text, ids, &count);
    if (t < 0) {
      std::printf("frontend-bench: phonemize failed\n");
      return 1;
    }
    if (i >= kWarmUp) ms.push_back(t);
  }
  phonemizer_shutdown();

  std::sort(ms.begin(), ms.end());
  std::printf("frontend-bench: %d words, %zu bytes, %d ids, %d runs after %d warm-up\n", kWords,
              text.size(), count, kRepetitions, kWarmUp);
  std::printf("phonemize + tokenize: median %.2f ms, min %.2f ms, max %.2f ms\n",
              ms[ms.size() / 2], ms.front(), ms.back());
  return 0;
}
