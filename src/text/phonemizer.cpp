#include "text/phonemizer.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "text/espeak-ng.h"
#include "text/lexicon.h"
#include "text/log-echo.h"
#include "log/log.h"

namespace {

// Voices using the front-end now; each phonemizer_init that succeeded is one.
std::mutex users_mutex;
std::atomic<int> users{0};

// `dir` with links and dots resolved, so that two names of one directory compare equal.
std::string canonical(const std::string &dir) {
  char *resolved = realpath(dir.c_str(), nullptr);
  if (!resolved) return dir;
  std::string out = resolved;
  std::free(resolved);
  return out;
}

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
    log_line(LogLevel::kWarning, "[phonemize] WARNING: no pronunciation for '%s'",
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

int phonemizer_init(const char *espeak_data_path, std::string *why) {
  const std::lock_guard<std::mutex> lock(users_mutex);
  if (users > 0 && espeak_data_path) {
    // A process has one espeak-ng: a second voice takes the data the first runs with.
    const std::string in_use = espeak_data_directory();
    if (canonical(espeak_data_path) != canonical(in_use)) {
      const std::string reason = "espeak-ng runs with the data in " + in_use +
                                 " for another voice, and a process has one espeak-ng";
      log_line(LogLevel::kError, "[phonemize] Failed to initialize espeak-ng from %s: %s",
               espeak_data_path, reason.c_str());
      if (why) *why = reason;
      return -1;
    }
  }
  if (users == 0 && !espeak_start(espeak_data_path)) {
    if (why) *why = "no phoneme data there, or espeak-ng did not start";
    return -1;
  }
  ++users;
  log_line(LogLevel::kInfo,
           "[phonemize] Initialized (gruut lexicon: 124K words, espeak-ng fallback)");
  return 0;
}

// espeak-ng stays up (see espeak-ng.cpp): only one use of the front-end ends.
void phonemizer_shutdown() {
  const std::lock_guard<std::mutex> lock(users_mutex);
  if (users > 0) --users;
}

char *phonemize(const char *text) {
  if (users == 0 || !text) return nullptr;
  PhonemeOutput out;
  if (!out.ok()) return nullptr;
  WordCounts counts;
  const bool whole =
      walk_items(text, counts, [&](size_t, size_t, const char *item, size_t n, bool) {
        return out.append(item, n);
      });
  if (!whole) return nullptr;

  if (counts.unpronounceable > kMaxWarnings)
    log_line(LogLevel::kWarning, "[phonemize] WARNING: %d more words without a pronunciation",
                 counts.unpronounceable - kMaxWarnings);
  if (log_enabled(LogLevel::kInfo))
    log_line(LogLevel::kInfo, "[phonemize] \"%s\" -> \"%s\" (gruut=%d, espeak=%d)",
               log_echo(text).c_str(), log_echo(out.str()).c_str(), counts.lexicon, counts.espeak);
  return out.release();
}

bool phonemize_items(const char *text, std::vector<PhonemeItem> *items) {
  if (users == 0 || !text || !items) return false;
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
