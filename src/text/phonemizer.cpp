#include "text/phonemizer.h"

#include <espeak-ng/speak_lib.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "log/log.h"
#include "text/espeak-lock.h"
#include "text/lexicon.h"
#include "text/log-echo.h"

namespace {

// Voices using the front-end now; each phonemizer_init that succeeded is one.
std::atomic<int> users{0};

// espeak-ng 1.51 starts an event thread in every espeak_Initialize, in the
// synchronous mode too, and espeak_Terminate can miss that thread's wake-up
// and wait for it for ever. So espeak-ng is started once per process and never
// terminated; a later load with another data directory, once no voice uses the
// running one, starts it again over it (that leaves one idle thread behind).
// Guarded by the espeak-ng lock.
bool espeak_running = false;
std::string espeak_started_from;  // the data directory as given, "" for the default
std::string espeak_data_dir;      // the directory espeak-ng reads, as it names it

// `dir` with links and dots resolved, so that two names of one directory compare equal.
std::string canonical(const std::string &dir) {
  char *resolved = realpath(dir.c_str(), nullptr);
  if (!resolved) return dir;
  std::string out = resolved;
  std::free(resolved);
  return out;
}

constexpr size_t kMaxWordBytes = 254;

bool is_regular_file(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// espeak-ng falls back to its default location when the directory does not
// exist, and reports the sample rate of an earlier start when a later one
// finds no data; checking the files it loads first catches both.
bool has_phoneme_data(const char *dir) {
  struct stat st;
  if (stat(dir, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  for (const char *name : {"phontab", "phonindex", "phondata", "intonations"})
    if (!is_regular_file(std::string(dir) + "/" + name)) return false;
  return true;
}

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

// espeak-ng's IPA of one word, copied out while espeak-ng is held; "" for none.
std::string espeak_phonemes(const char *word) {
  try {
    const EspeakLock lock("en-us");
    const void *text = word;
    const char *pron = espeak_TextToPhonemes(&text, espeakCHARS_UTF8, 2);
    return pron ? pron : "";
  } catch (const std::runtime_error &) {  // no English voice in the data
    return "";
  }
}

// The pronunciation of one word (lexicon first, espeak-ng's kept in *espeak),
// or nullptr after a warning.
const char *pronounce(const char *word, WordCounts &counts, std::string *espeak) {
  char lower[kMaxWordBytes + 1];
  size_t n = 0;
  for (; word[n]; ++n) lower[n] = (word[n] >= 'A' && word[n] <= 'Z') ? word[n] + 32 : word[n];
  lower[n] = '\0';

  if (const char *pron = lexicon_lookup(lower)) {
    ++counts.lexicon;
    return pron;
  }
  *espeak = espeak_phonemes(word);
  if (!espeak->empty()) {
    ++counts.espeak;
    return espeak->c_str();
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
      const char *pron = pronounce(word, counts, &espeak);
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
  EspeakLock lock;
  const std::string from = espeak_data_path ? espeak_data_path : "";
  if (users > 0 && espeak_data_path && canonical(from) != canonical(espeak_data_dir)) {
    const std::string reason = "espeak-ng runs with the data in " + espeak_data_dir +
                               " for another voice, and a process has one espeak-ng";
    log_line(LogLevel::kError, "[phonemize] Failed to initialize espeak-ng from %s: %s",
             espeak_data_path, reason.c_str());
    if (why) *why = reason;
    return -1;
  }
  if (users == 0 && (!espeak_running || from != espeak_started_from)) {
    constexpr int kDontExit = espeakINITIALIZE_DONT_EXIT;  // 1.51 exits the process on bad data
    const bool data_ok = !espeak_data_path || has_phoneme_data(espeak_data_path);
    // Phoneme conversion needs no audio: the synchronous mode starts no audio thread.
    const int sample_rate =
        data_ok ? espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, espeak_data_path, kDontExit) : -1;
    // 0 means nothing was loaded: with the don't-exit option a failed start returns normally.
    if (sample_rate == -1 || sample_rate == 0) {
      log_line(LogLevel::kError, "[phonemize] Failed to initialize espeak-ng%s%s",
               data_ok ? "" : ": no phoneme data in ", data_ok ? "" : espeak_data_path);
      if (why) *why = data_ok ? "espeak-ng did not start" : "no phoneme data there";
      return -1;
    }
    espeak_running = true;
    espeak_started_from = from;
    const char *data_dir = nullptr;
    espeak_Info(&data_dir);
    espeak_data_dir = data_dir ? data_dir : from;
    lock.forget_language();
  }
  ++users;
  log_line(LogLevel::kInfo,
           "[phonemize] Initialized (gruut lexicon: 124K words, espeak-ng fallback)");
  return 0;
}

// espeak-ng stays up (see espeak_running): only one use of the front-end ends.
void phonemizer_shutdown() {
  const EspeakLock lock;
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
