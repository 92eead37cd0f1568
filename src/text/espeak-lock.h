#pragma once
// espeak-ng keeps one state per process and is not safe to call from two
// threads: every call into it is made holding this lock, and the language a
// caller needs is set inside it, since voices of other languages share it.

#include <mutex>
#include <string>

class EspeakLock {
 public:
  // Holds espeak-ng for the scope's life without touching its language (its start and stop).
  EspeakLock();
  // Holds it with `language` (an espeak-ng voice name) set, which the next
  // holder may change. Throws std::runtime_error when espeak-ng has no such voice.
  explicit EspeakLock(const std::string &language);
  EspeakLock(const EspeakLock &) = delete;
  EspeakLock &operator=(const EspeakLock &) = delete;

  // espeak-ng was (re)started: the language it has set is not known any more.
  void forget_language();

 private:
  std::unique_lock<std::mutex> lock_;
};
