#pragma once
// The spoken form as it is built: words joined by single spaces, clause
// punctuation attached to the word before it.

#include <string>
#include <string_view>

class Spoken {
 public:
  // One or more words, already separated by single spaces; empty adds nothing.
  void add(std::string_view words);

  // One of . , ; : ! ? after the last word. Nothing before the first word; a
  // sentence end replaces a weaker mark just written, a weaker one is dropped.
  void mark(char punctuation);

  // Whether the last thing written is a mark (or nothing is written yet).
  bool at_mark() const;

  // The text; a pause mark at its very end is dropped (nothing follows it).
  std::string take();

 private:
  std::string text_;
};
