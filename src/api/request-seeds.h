#pragma once
// The seeds of one request's utterances, in order: the request's own seed
// counting up, or each the next value of its voice's counter. Each utterance
// draws from a generator of its own seeded so (model/korva-vits.h): a request
// with a seed of its own sounds the same whatever runs beside it.

#include <atomic>
#include <cstdint>
#include <optional>

class RequestSeeds {
 public:
  RequestSeeds(std::optional<int64_t> own, std::atomic<int> &counter)
      : own_(own ? std::optional<uint32_t>(static_cast<uint32_t>(*own)) : std::nullopt),
        counter_(counter) {}

  int next() { return own_ ? static_cast<int>((*own_)++) : counter_.fetch_add(1); }

 private:
  std::optional<uint32_t> own_;  // counts up modulo 2^32, as the counter does
  std::atomic<int> &counter_;
};
