#pragma once
// English text -> space-separated IPA (lexicon first, espeak-ng for misses).

#include <cstddef>
#include <string>
#include <vector>

// One use of the front-end (a voice's), each ended by one phonemizer_shutdown.
// Initialises espeak-ng from `espeak_data_path` (nullptr: its default location,
// or the data another use already runs with). Returns 0, or -1 with the reason
// in *why: the directory does not exist or holds no phoneme data, or another
// use runs espeak-ng with other data (a process has one espeak-ng).
int phonemizer_init(const char *espeak_data_path, std::string *why = nullptr);

// Ends one use; the front-end stops with the last. Does nothing when none is
// left. espeak-ng itself stays up until the process ends.
void phonemizer_shutdown();

// Returns a malloc'ed NUL-terminated IPA string (caller frees), or nullptr
// when not initialised, `text` is null, or memory runs out.
char *phonemize(const char *text);

// One word of a text with its pronunciation, or one punctuation mark.
struct PhonemeItem {
  size_t offset = 0;  // bytes into the text
  size_t length = 0;
  std::string phonemes;  // the IPA of a word, or the mark itself
  bool word = true;
};

// The items phonemize joins, appended to *items in the order of the text;
// words without a pronunciation are left out with a warning. False when not
// initialised or `text` is null.
bool phonemize_items(const char *text, std::vector<PhonemeItem> *items);

// `items` joined as phonemize joins them: single spaces between items.
std::string join_phoneme_items(const std::vector<PhonemeItem> &items);
