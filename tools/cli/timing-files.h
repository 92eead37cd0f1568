#pragma once
// Word timings of `korva speak`: collected from the library's callback, then
// written as JSON (--timings) or as WebVTT subtitles (--subtitles).

#include <string>
#include <vector>

#include "korva.h"

struct TimedPhoneme {
  std::string text;
  long long start = 0, end = 0;  // samples at the output rate
};

struct TimedWord {
  std::string text;
  int text_offset = 0, text_length = 0;  // bytes of the spoken text
  long long start = 0, end = 0;          // samples at the output rate
  std::vector<TimedPhoneme> phonemes;
};

// A korva_timing_cb collecting into the std::vector<TimedWord> at `user`.
int collect_timing(const korva_timing *timing, void *user);

// {"sample_rate": R, "words": [{"text", "text_offset", "text_length", "start", "end",
// "start_seconds", "end_seconds", "phonemes": [{"text", "start", "end"}]}]}.
// Throws CommandError when the file cannot be written.
void write_timings_json(const std::string &path, const std::vector<TimedWord> &words, int rate);

// One cue per line of words: a cue ends at a pause (a sentence's end) or after
// a few words. Its text is the spoken text from its first word to its last,
// its `markup` (SSML's tags) left out.
void write_subtitles_vtt(const std::string &path, const std::vector<TimedWord> &words, int rate,
                         const std::string &text, bool markup);
