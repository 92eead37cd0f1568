#include "access-log.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>

namespace {

struct Notes {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  size_t streamed = 0;
};

thread_local Notes notes;

}  // namespace

void note_request_start() { notes = Notes{}; }

void note_streamed(size_t bytes) { notes.streamed += bytes; }

bool broken_off(const httplib::Response &response) {
  // The library marks a provided body's success before it calls the logger.
  return response.content_provider_ && !response.content_provider_success_;
}

void write_access_line(const httplib::Request &request, const httplib::Response &response) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - notes.start).count();
  const size_t bytes = response.body.size() + notes.streamed;
  std::fprintf(stderr, "%s:%d \"%s %s\" %d %zu bytes %.3f s%s\n", request.remote_addr.c_str(),
               request.remote_port, request.method.c_str(), request.path.c_str(), response.status,
               bytes, seconds, broken_off(response) ? " (stream broken off)" : "");
}
