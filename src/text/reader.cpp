#include "text/reader.h"

#include <string_view>

namespace {

// Capitalised, these words begin a sentence far more often than they continue a name.
constexpr std::string_view kSentenceOpeners[] = {
    "A",     "After", "All",   "Also",  "An",    "And",   "As",    "At",    "But",
    "For",   "He",    "Her",   "His",   "How",   "I",     "If",    "In",    "It",
    "Its",   "My",    "No",    "Now",   "On",    "Our",   "She",   "So",    "That",
    "The",   "Their", "Then",  "There", "These", "They",  "This",  "Those", "We",
    "What",  "When",  "Where", "Which", "While", "Who",   "Why",   "Yes",   "You",
    "Your",  "However", "Today", "Tomorrow", "Yesterday", "Some", "Many", "Most"};

bool opens_sentence(const Chunk &chunk) {
  for (std::string_view word : kSentenceOpeners) {
    if (chunk.core == word) return true;
  }
  return false;
}

}  // namespace

Taken took_period(const Cursor &cursor, size_t chunks, Spoken &out) {
  const Chunk *next = cursor.peek(static_cast<long>(chunks));
  if (!next || next->new_paragraph || opens_sentence(*next)) out.mark('.');
  return {chunks, true};
}
