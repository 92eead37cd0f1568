#include "text/phonemizer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "text/espeak-ng.h"
#include "text/lexicon.h"
#include "text/log-echo.h"

namespace {

int initialized = 0;

constexpr size_t kMaxWordBytes = 254;

bool is_word_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '\'' || c == '-';
}

bool is_punctuation(char c) { return c && std::strchr("!,.:;?", c); }

// The malloc'ed output: items joined by single spaces.
class PhonemeOutput {
 public:
  PhonemeOutput() : data_(static_cast<char *>(std::malloc(kInitialCapacity))) {
    if (data_) data_[0] = '\0';
  }
  ~PhonemeOutput() { std::free(data_); }
  PhonemeOutput(const PhonemeOutput &) = delete;
  PhonemeOutput &operator=(const PhonemeOutput &) = delete;

  bool ok() const { return data_ != nullptr; }
  const char *str() const { return data_; }

  // False when the buffer cannot grow; the caller then gives up the output.
  bool append(const char *item, size_t n) {
    size_t capacity = capacity_;
    while (length_ + n + 2 >= capacity) {
      if (capacity > SIZE_MAX / 2) return false;
      capacity *= 2;
    }
    if (capacity != capacity_) {
      char *grown = static_cast<char *>(std::realloc(data_, capacity));
      if (!grown) return false;
      data_ = grown;
      capacity_ = capacity;
    }
    if (length_ > 0 && data_[length_ - 1] != ' ') data_[length_++] = ' ';
    std::memcpy(data_ + length_, item, n);
    length_ += n;
    data_[length_] = '\0';
    return true;
  }

  char *release() {
    char *out = data_;
    data_ = nullptr;
    return out;
  }

 private:
  static constexpr size_t kInitialCapacity = 4096;
  char *data_;
  size_t length_ = 0;
  size_t capacity_ = kInitialCapacity;
};

// Words without a pronunciation warned about one by one; the rest are counted.
constexpr int kMaxWarnings = 10;

struct WordCounts {
  int lexicon = 0;
  int espeak = 0;
  int unpronounceable = 0;
};

// The pronunciation of one word (lexicon first; `espeak` holds espeak-ng's),
// or nullptr after a warning.
const char *pronounce(const char *word, WordCounts &counts, std::string &espeak) {
  char lower[kMaxWordBytes + 1];
  size_t n = 0;
  for (; word[n]; ++n) lower[n] = (word[n] >= 'A' && word[n] <= 'Z') ? word[n] + 32 : word[n];
  lower[n] = '\0';

  if (const char *pron = lexicon_lookup(lower)) {
    ++counts.lexicon;
    return pron;
  }
  espeak = espeak_word_ipa(word, "en-us");
  if (!espeak.empty()) {
    ++counts.espeak;
    return espeak.c_str();
  }
  if (++counts.unpronounceable <= kMaxWarnings)
    std::fprintf(stderr, "[phonemize] WARNING: no pronunciation for '%s'\n",
                 log_echo(word).c_str());
  return nullptr;
}

// Walks `text`, handing each item to `emit`; false as soon as `emit` fails.
template <typename Emit>
bool walk_items(const char *text, WordCounts &counts, Emit emit) {
  const char *p = text;
  while (*p) {
    if (*p == ' ' || *p == '\t' || *p == '\n') {
      ++p;
      continue;
    }
    if (is_word_byte(*p)) {
      // A longer run is cut; its rest is read as the next word.
      char word[kMaxWordBytes + 1];
      size_t n = 0;
      while (n < kMaxWordBytes && is_word_byte(p[n])) {
        word[n] = p[n];
        ++n;
      }
      word[n] = '\0';
      std::string espeak;
      const char *pron = pronounce(word, counts, espeak);
      if (pron && !emit(static_cast<size_t>(p - text), n, pron, std::strlen(pron), true))
        return false;
      p += n;
      continue;
    }
    if (is_punctuation(*p) && !emit(static_cast<size_t>(p - text), 1, p, 1, false)) return false;
    ++p;
  }
  return true;
}

}  // namespace

int phonemizer_init(const char *espeak_data_path) {
  if (initialized) return 0;
  if (!espeak_start(espeak_data_path)) return -1;
  initialized = 1;
  std::fprintf(stderr, "[phonemize] Initialized (gruut lexicon: 124K words, espeak-ng fallback)\n");
  return 0;
}

// espeak-ng stays up (see espeak-ng.cpp): only this front-end's state ends.
void phonemizer_shutdown() { initialized = 0; }

char *phonemize(const char *text) {
  if (!initialized || !text) return nullptr;
  PhonemeOutput out;
  if (!out.ok()) return nullptr;
  WordCounts counts;
  const bool whole =
      walk_items(text, counts, [&](size_t, size_t, const char *item, size_t n, bool) {
        return out.append(item, n);
      });
  if (!whole) return nullptr;

  if (counts.unpronounceable > kMaxWarnings)
    std::fprintf(stderr, "[phonemize] WARNING: %d more words without a pronunciation\n",
                 counts.unpronounceable - kMaxWarnings);
  std::fprintf(stderr, "[phonemize] \"%s\" -> \"%s\" (gruut=%d, espeak=%d)\n",
               log_echo(text).c_str(), log_echo(out.str()).c_str(), counts.lexicon, counts.espeak);
  return out.release();
}

bool phonemize_items(const char *text, std::vector<PhonemeItem> *items) {
  if (!initialized || !text || !items) return false;
  WordCounts counts;
  return walk_items(text, counts,
                    [&](size_t offset, size_t length, const char *item, size_t n, bool word) {
                      items->push_back({offset, length, std::string(item, n), word});
                      return true;
                    });
}

std::string join_phoneme_items(const std::vector<PhonemeItem> &items) {
  std::string joined;
  for (const PhonemeItem &item : items) {
    if (!joined.empty() && joined.back() != ' ') joined += ' ';
    joined += item.phonemes;
  }
  return joined;
}
