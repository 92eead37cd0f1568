#include "metrics.h"

#include <sstream>

void Metrics::count_response(const std::string &route, int status) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++responses_[{route, status}];
}

void Metrics::add_audio(uint64_t samples, int sample_rate) {
  audio_microseconds_ += samples * 1000000 / static_cast<uint64_t>(sample_rate);
}

std::string Metrics::text(const Synthesis &synthesis) const {
  std::ostringstream out;
  out << "# HELP korva_http_requests_total HTTP requests answered, by route and status.\n"
         "# TYPE korva_http_requests_total counter\n";
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const auto &[key, count] : responses_) {
      out << "korva_http_requests_total{route=\"" << key.first << "\",status=\"" << key.second
          << "\"} " << count << "\n";
    }
  }
  out << "# HELP korva_synthesis_errors_total Syntheses failed, refused or stopped short.\n"
         "# TYPE korva_synthesis_errors_total counter\n"
         "korva_synthesis_errors_total "
      << synthesis.failures << "\n"
      << "# HELP korva_streams_broken_total Streamed answers that did not reach their end.\n"
         "# TYPE korva_streams_broken_total counter\n"
         "korva_streams_broken_total "
      << broken_streams_ << "\n"
      << "# HELP korva_audio_seconds_total Seconds of audio sent.\n"
         "# TYPE korva_audio_seconds_total counter\n"
         "korva_audio_seconds_total "
      << static_cast<double>(audio_microseconds_) / 1e6 << "\n"
      << "# HELP korva_queue_depth Requests waiting for a synthesis thread.\n"
         "# TYPE korva_queue_depth gauge\n"
         "korva_queue_depth "
      << synthesis.queue_depth << "\n"
      << "# HELP korva_busy Synthesis threads speaking.\n"
         "# TYPE korva_busy gauge\n"
         "korva_busy "
      << synthesis.busy << "\n"
      << "# HELP korva_workers Synthesis threads.\n"
         "# TYPE korva_workers gauge\n"
         "korva_workers "
      << synthesis.workers << "\n";
  return out.str();
}
