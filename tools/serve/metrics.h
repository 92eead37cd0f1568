#pragma once
// The server's counters, shown by GET /metrics in the Prometheus text format.

#include <atomic>
#include <cstdint>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <utility>

class Metrics {
 public:
  // One answered request: its route ("other" for unknown paths) and status.
  void count_response(const std::string &route, int status);
  // A streamed answer that did not reach its end.
  void count_broken_stream() { ++broken_streams_; }
  void add_audio(uint64_t samples, int sample_rate);

  // What the synthesis threads report, read at the time of asking.
  struct Synthesis {
    uint64_t failures;
    size_t queue_depth;
    size_t busy;
    size_t workers;
  };
  // The exposition text.
  std::string text(const Synthesis &synthesis) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::pair<std::string, int>, uint64_t> responses_;
  std::atomic<uint64_t> broken_streams_{0};
  std::atomic<uint64_t> audio_microseconds_{0};
};
