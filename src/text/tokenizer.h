#pragma once
// IPA phoneme string -> framed token ids [2, 3, s1, 3, s2, ..., 3, sn, 3, 1].

#include <cstdint>
#include <string_view>
#include <vector>

constexpr int32_t kTokenEnd = 1;
constexpr int32_t kTokenStart = 2;
constexpr int32_t kTokenBlank = 3;
constexpr int kMaxTokens = 4096;

// Writes at most `capacity` ids to `out` and returns how many it wrote.
// Unknown characters are reported on stderr and skipped.
int tokenize(const char *phonemes, int32_t *out, int capacity);

// tokenize without its summary line: for the many pieces of one long text, where
// a line each would flood the log.
int tokenize_quietly(const char *phonemes, int32_t *out, int capacity);

// Tokenizes into a malloc'ed array of at most kMaxTokens ids (caller frees);
// stores the count in *count when count is not null. Returns nullptr (count 0)
// when there are no ids or the allocation fails.
int32_t *tokenize_to_array(const char *phonemes, int *count);

// The characters of `phonemes` that tokenize turns into ids, in order, as views
// into `phonemes`: symbol k becomes id 2 + 2k of the framed sequence. Ignored
// and unknown characters are skipped without a word.
std::vector<std::string_view> token_symbols(std::string_view phonemes);
