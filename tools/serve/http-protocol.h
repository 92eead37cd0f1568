#pragma once
// HTTP/1.1 on the gate: requests framed by their header block, then read,
// routed and answered by the HTTP library's own request code (the routes and
// handlers set on `routes`), one request per turn, keep-alive included.

#include <httplib.h>

#include <atomic>
#include <chrono>

#include "protocol.h"

// The HTTP library's server used for its request handling only: the gate
// listens and accepts.
class HttpRoutes : public httplib::Server {
 public:
  HttpRoutes();
  // Reads one request from `stream`, answers it; false when the connection
  // must close (`close` asked it, the client did, or the answer failed).
  bool answer(httplib::Stream &stream, bool close);
};

class HttpProtocol : public Protocol {
 public:
  struct Config {
    size_t max_body = 1 << 20;                   // bytes of a request body
    std::chrono::milliseconds write_limit{30000};  // for the client to take each piece of an answer
    std::chrono::seconds deadline{10};           // the gate's, as the refusals tell it
    size_t keep_alive_requests = 100;            // per connection
  };
  // `stopping` turns keep-alive off.
  HttpProtocol(HttpRoutes &routes, Config config, const std::atomic<bool> &stopping,
               Note note);

  Framing frame(Connection &connection) override;
  bool answer(Connection &connection) override;
  std::string late_reply() const override;
  std::string crowded_reply() const override;

 private:
  HttpRoutes &routes_;
  const Config config_;
  const std::atomic<bool> &stopping_;
};
