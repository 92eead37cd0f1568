#pragma once
// English text -> space-separated IPA (lexicon first, espeak-ng for misses).

// Initialises espeak-ng from `espeak_data_path` (nullptr: its default
// location). Returns 0 on success or when already initialised, -1 on failure,
// also when the directory does not exist or holds no phoneme data.
int phonemizer_init(const char *espeak_data_path);

// Ends the front-end until the next phonemizer_init; does nothing when not
// initialised. espeak-ng itself stays up until the process ends.
void phonemizer_shutdown();

// Returns a malloc'ed NUL-terminated IPA string (caller frees), or nullptr
// when not initialised, `text` is null, or memory runs out.
char *phonemize(const char *text);
