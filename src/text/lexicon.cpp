#include "text/lexicon.h"

#include <cstring>

uint32_t fnv1a32(const char *s) {
  uint32_t h = 0x811C9DC5u;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p; ++p) {
    h ^= *p;
    h *= 0x01000193u;
  }
  return h;
}

const char *lexicon_lookup(const char *word) {
  return lexicon_lookup_in(lexicon_index, lexicon_text, word);
}

const char *lexicon_lookup_in(const LexiconSlot *index, const char *text, const char *word) {
  if (!word) return nullptr;
  const uint32_t h = fnv1a32(word);
  // The index is under half full, so an empty slot always ends the probe.
  for (uint32_t j = h & (kLexiconSlots - 1);; j = (j + 1) & (kLexiconSlots - 1)) {
    const LexiconSlot &slot = index[j];
    if (slot.hash == kEmptyHash) return nullptr;
    if (slot.hash == h && std::strcmp(text + slot.word_offset, word) == 0)
      return text + slot.pron_offset;
  }
}
