#pragma once
// Embedded English pronunciation lexicon: constant data generated at build
// time, looked up through a precomputed open-addressing hash index.

#include <cstddef>
#include <cstdint>

// One slot of the hash index; three little-endian u32 in the data blob.
struct LexiconSlot {
  uint32_t hash;         // fnv1a32 of the word, kEmptyHash for an empty slot
  uint32_t word_offset;  // byte offset of the word in lexicon_text
  uint32_t pron_offset;  // byte offset of its pronunciation (word_offset + len + 1)
};

constexpr uint32_t kLexiconSlots = 1u << 18;
constexpr uint32_t kEmptyHash = 0xFFFFFFFFu;

extern "C" {
// Records "word\0pronunciation\0", sorted by the word's bytes.
extern const char lexicon_text[];
extern const uint64_t lexicon_text_size;  // bytes
// kLexiconSlots slots.
extern const LexiconSlot lexicon_index[];
}

// 32-bit FNV-1a over the bytes of a NUL-terminated string.
uint32_t fnv1a32(const char *s);

// Pronunciation of a lower-case word (pointer into the constant data, never
// freed), or nullptr when the word is absent. Compares bytes exactly.
const char *lexicon_lookup(const char *word);

// The same lookup over any index of kLexiconSlots slots into `text`.
const char *lexicon_lookup_in(const LexiconSlot *index, const char *text, const char *word);
