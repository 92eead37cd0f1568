#pragma once
// Folded text cut at white space into chunks, each with the punctuation that
// opens and closes it held apart from its core ("(Dr." -> "(", "Dr", ".").

#include <string_view>
#include <vector>

struct Chunk {
  std::string_view lead;   // opening brackets and quotes
  std::string_view core;   // what is read: may be empty ("--", "...")
  std::string_view trail;  // closing brackets, quotes and punctuation, periods included
  bool new_paragraph = false;  // a blank line comes before it
};

std::vector<Chunk> split_chunks(std::string_view text);

// Whether the chunk's core starts with an upper-case letter.
bool starts_upper(const Chunk &chunk);
