#pragma once
// Every call the engine makes of espeak-ng, in one place. espeak-ng is one
// process-wide state and is not thread-safe: callers of these functions must
// not run two at once (the engine's lock sees to it), and each call sets the
// language it needs first, as another voice may have set another.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Starts espeak-ng from `data_path` (nullptr: its default location) unless it
// runs from there already. False, after a line on standard error, when it
// cannot start (also when the directory holds no phoneme data).
bool espeak_start(const char *data_path);

// Throws std::runtime_error when espeak-ng is not started or has no voice
// `language` (en-us, en-gb-x-rp, ...).
void espeak_require_language(const std::string &language);

// espeak-ng's IPA of one word in `language`, as its text-to-phonemes call
// gives it; "" when it has none.
std::string espeak_word_ipa(const std::string &word, const std::string &language);

// One clause of a text read by the text-to-phonemes call: its IPA, and where
// it ends in the text.
struct EspeakClause {
  std::string ipa;
  size_t end = 0;  // where the clause ends in the text, bytes (the next one starts there)
};

// The clauses of `text` as the text-to-phonemes call reads them, one call per
// clause.
std::vector<EspeakClause> espeak_clauses(std::string_view text, const std::string &language);

// A word espeak-ng spoke: where it starts in the text, in characters.
struct EspeakWord {
  size_t character = 0;
};

// `text` spoken by espeak-ng with its phoneme trace on, as its own program
// prints it (IPA, stress marks, one line per clause group), and the words it
// spoke, in order. Words it joins in speech ("in the") are one word of the
// trace and one word here.
struct EspeakSpeech {
  std::string trace;  // phonemes separated by '_', words by spaces, lines joined by spaces
  std::vector<EspeakWord> words;
};
EspeakSpeech espeak_speak(std::string_view text, const std::string &language);
