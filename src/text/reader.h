#pragma once
// What every reader of the normaliser sees and gives back.

#include <cstddef>
#include <vector>

#include "text/chunks.h"
#include "text/spoken.h"

// The chunks of the text and the one being read.
struct Cursor {
  const std::vector<Chunk> &chunks;
  size_t at;

  const Chunk &chunk() const { return chunks[at]; }
  // The chunk `offset` places away (negative: before), or null past either end.
  const Chunk *peek(long offset) const {
    const long i = static_cast<long>(at) + offset;
    return i < 0 || i >= static_cast<long>(chunks.size()) ? nullptr : &chunks[i];
  }
};

// How much a reader took: chunks (0 when the text is not of its kind), and
// whether the first period of the last one's trail was part of what it read
// (an abbreviation's), not the end of a sentence.
struct Taken {
  size_t chunks = 0;
  bool period = false;
};

// The reading of `chunks` chunks whose last trail starts with an abbreviation's
// period. That period ends the sentence too when nothing, a new paragraph or a
// word that mostly opens sentences follows ("U.S. He", not "U.S. Army"); then
// it is written as one.
Taken took_period(const Cursor &cursor, size_t chunks, Spoken &out);

// Whether the chunk's core is all there is to it: no closing punctuation that
// would end a phrase read across chunks.
inline bool open_ended(const Chunk &chunk) { return chunk.trail.empty(); }
