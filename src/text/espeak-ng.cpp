#include "text/espeak-ng.h"

#include <espeak-ng/speak_lib.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {

// espeak-ng 1.51 starts an event thread in every espeak_Initialize, in the
// synchronous mode too, and espeak_Terminate can miss that thread's wake-up
// and wait for it for ever. So espeak-ng is started once per process and never
// terminated; a start from another data directory starts it again over the
// running one (that leaves one idle thread behind).
bool running = false;
std::string started_from;  // the data directory, "" for the default
std::string language_set;  // the voice last set, "" for none

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

bool set_language(const std::string &language) {
  if (language == language_set) return true;
  if (espeak_SetVoiceByName(language.c_str()) != EE_OK) return false;
  language_set = language;
  return true;
}


// The words of a synthesis, from its events; the audio is not wanted.
int collect_words(short *, int, espeak_EVENT *events) {
  for (; events && events->type != espeakEVENT_LIST_TERMINATED; ++events) {
    if (events->type == espeakEVENT_WORD && events->text_position > 0) {
      auto *words = static_cast<std::vector<EspeakWord> *>(events->user_data);
      words->push_back({static_cast<size_t>(events->text_position - 1)});
    }
  }
  return 0;
}

// A memory stream for the phoneme trace, closed and read once.
class TraceStream {
 public:
  TraceStream() : file_(open_memstream(&data_, &size_)) {
    if (!file_) throw std::runtime_error("espeak-ng: no memory for its phoneme trace");
  }
  ~TraceStream() {
    if (file_) std::fclose(file_);
    std::free(data_);
  }
  TraceStream(const TraceStream &) = delete;
  TraceStream &operator=(const TraceStream &) = delete;
  FILE *file() const { return file_; }
  std::string text() {
    std::fclose(file_);
    file_ = nullptr;
    return data_ ? std::string(data_, size_) : std::string();
  }

 private:
  char *data_ = nullptr;
  size_t size_ = 0;
  FILE *file_;
};

}  // namespace

bool espeak_start(const char *data_path) {
  const std::string from = data_path ? data_path : "";
  if (running && from == started_from) return true;
  constexpr int kDontExit = espeakINITIALIZE_DONT_EXIT;  // 1.51 exits the process on bad data
  const bool data_ok = !data_path || has_phoneme_data(data_path);
  // Phonemes need no audio device: the synchronous mode starts no audio thread.
  const int sample_rate =
      data_ok ? espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, data_path, kDontExit) : -1;
  // 0 means nothing was loaded: with the don't-exit option a failed start returns normally.
  if (sample_rate == -1 || sample_rate == 0) {
    std::fprintf(stderr, "[phonemize] Failed to initialize espeak-ng%s%s\n",
                 data_ok ? "" : ": no phoneme data in ", data_ok ? "" : data_path);
    return false;
  }
  espeak_SetSynthCallback(collect_words);
  running = true;
  started_from = from;
  language_set.clear();
  return set_language("en-us");
}

void espeak_require_language(const std::string &language) {
  if (!running) throw std::runtime_error("espeak-ng is not started");
  if (!set_language(language)) throw std::runtime_error("espeak-ng has no voice '" + language + "'");
}

std::string espeak_word_ipa(const std::string &word, const std::string &language) {
  espeak_require_language(language);
  const void *text = word.c_str();
  const char *ipa = espeak_TextToPhonemes(&text, espeakCHARS_UTF8, espeakPHONEMES_IPA);
  return ipa ? ipa : "";
}

std::vector<EspeakClause> espeak_clauses(std::string_view text, const std::string &language) {
  espeak_require_language(language);
  const std::string copy(text);
  std::vector<EspeakClause> clauses;
  const void *at = copy.c_str();
  while (at) {
    const char *ipa = espeak_TextToPhonemes(&at, espeakCHARS_UTF8, espeakPHONEMES_IPA);
    // The call leaves the text pointer one character into the next clause,
    // which it has read ahead (and still reads as that clause's).
    size_t end = copy.size();
    if (at) {
      end = static_cast<size_t>(static_cast<const char *>(at) - copy.c_str());
      while (end > 0 && (static_cast<unsigned char>(copy[--end]) & 0xC0) == 0x80) {
      }
    }
    clauses.push_back({ipa ? ipa : "", end});
  }
  return clauses;
}

EspeakSpeech espeak_speak(std::string_view text, const std::string &language) {
  espeak_require_language(language);
  const std::string copy(text);
  EspeakSpeech speech;
  TraceStream trace;
  espeak_SetPhonemeTrace(espeakPHONEMES_IPA | ('_' << 8), trace.file());
  const espeak_ERROR status = espeak_Synth(copy.c_str(), copy.size() + 1, 0, POS_CHARACTER, 0,
                                           espeakCHARS_UTF8 | espeakENDPAUSE, nullptr,
                                           &speech.words);
  espeak_SetPhonemeTrace(0, nullptr);
  if (status != EE_OK) throw std::runtime_error("espeak-ng could not read the text");
  speech.trace = trace.text();
  for (char &c : speech.trace)
    if (c == '\n') c = ' ';
  return speech;
}
