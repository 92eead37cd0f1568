// Text normaliser throughput: MB of written text turned into its spoken form
// per second, on two texts of about 1 MB each:
//   prose - common words (one in fifty an initialism or not in the lexicon)
//           and clause punctuation,
//   mixed - the same with a number, amount, date, time, unit, abbreviation,
//           initialism, address or non-ASCII word in about one word in four.
//   normalise-bench [REPETITIONS]
// Excluded: the first call of a thread, which makes ICU's transliterator.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common-words.h"
#include "text/normalise.h"

namespace {

constexpr size_t kTextBytes = 1 << 20;
constexpr int kWarmUp = 2;
constexpr int kDefaultRepetitions = 11;

const char *const kWritten[] = {
    "$5.50", "12/09/2026", "3:45pm", "Dr.", "2nd", "1,234", "42%", "e.g.", "2026-12-09",
    "Dec. 9", "5 km", "20°C", "(555) 123-4567", "€1.5M", "1990s", "U.S.", "FBI", "NASA",
    "café", "naïve", "“quoted”", "don’t", "—", "…", "😀", "https://example.com/docs",
    "jane@example.org", "St. Louis", "vs.", "No. 5", "1990–1995", "3/4", "100GB", "15:30"};

const char *const kPunctuation[] = {",", ".", "?", "!", ";"};

template <size_t N>
const char *pick(const char *const (&table)[N], uint32_t r) { return table[r % N]; }

std::string make_text(bool mixed) {
  uint32_t state = 12345;
  auto next = [&state] { return (state = state * 1664525u + 1013904223u) >> 8; };
  std::string text;
  while (text.size() < kTextBytes) {
    if (!text.empty()) text += ' ';
    text += mixed && next() % 4 == 0 ? pick(kWritten, next()) : pick(kVocabulary, next());
    if (next() % 8 == 0) text += pick(kPunctuation, next());
  }
  return text;
}

// Median MB per second of `repetitions` runs, and the spoken form's size.
double throughput(const std::string &text, int repetitions, size_t *spoken_bytes) {
  std::vector<double> rates;
  for (int i = 0; i < kWarmUp + repetitions; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const std::string spoken = normalise_text(text);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    *spoken_bytes = spoken.size();
    if (i >= kWarmUp) rates.push_back(text.size() / 1e6 / seconds);
  }
  std::sort(rates.begin(), rates.end());
  return rates[rates.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultRepetitions;
  std::printf("normalise-bench: %d runs after %d warm-up, median\n", repetitions, kWarmUp);
  for (const bool mixed : {false, true}) {
    const std::string text = make_text(mixed);
    size_t spoken = 0;
    const double rate = throughput(text, repetitions, &spoken);
    std::printf("%-6s %8zu bytes -> %8zu bytes spoken: %.2f MB/s\n", mixed ? "mixed" : "prose",
                text.size(), spoken, rate);
  }
  return 0;
}
