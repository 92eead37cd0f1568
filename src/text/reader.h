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
