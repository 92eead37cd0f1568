#pragma once
// The words the text benchmarks make their texts of.

#include <cstddef>

// Common words with a few that the lexicon lacks (about 1 in 100 draws), so
// the espeak-ng fallback is part of the front-end's cost as in real text.
inline const char *const kVocabulary[] = {
    "the", "of", "and", "to", "in", "is", "you", "that", "it", "he", "was", "for", "on", "are",
    "as", "with", "his", "they", "I", "at", "be", "this", "have", "from", "or", "one", "had",
    "by", "word", "but", "not", "what", "all", "were", "we", "when", "your", "can", "said",
    "there", "use", "an", "each", "which", "she", "do", "how", "their", "if", "will", "up",
    "other", "about", "out", "many", "then", "them", "these", "so", "some", "her", "would",
    "make", "like", "him", "into", "time", "has", "look", "two", "more", "write", "go", "see",
    "number", "no", "way", "could", "people", "my", "than", "first", "water", "been", "call",
    "who", "oil", "its", "now", "find", "long", "down", "day", "did", "get", "come", "made",
    "may", "part", "Korva", "GPU"};
inline constexpr size_t kVocabularySize = sizeof kVocabulary / sizeof kVocabulary[0];
