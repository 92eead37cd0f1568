#include "http-protocol.h"

#include "connection-stream.h"
#include "http-framing.h"
#include "json-error.h"

namespace {

// A request line and its headers; the body has its own limit.
constexpr size_t kMaxHeaderBytes = 16384;
constexpr const char *kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

}  // namespace

HttpRoutes::HttpRoutes() {
  // The library reads an invalid listening socket as "shutting down" and
  // then sends no streamed body; its listener is never used (the gate's is),
  // so any valid number will do.
  svr_sock_ = 0;
}

bool HttpRoutes::answer(httplib::Stream &stream, bool close) {
  bool closed = false;
  const bool written = process_request(stream, close, closed, nullptr);
  return written && !closed && !close;
}

HttpProtocol::HttpProtocol(HttpRoutes &routes, Config config, const std::atomic<bool> &stopping,
                           Note note)
    : Protocol(std::move(note)), routes_(routes), config_(config), stopping_(stopping) {
  routes_.set_keep_alive_timeout(config_.deadline.count());
  routes_.set_keep_alive_max_count(config_.keep_alive_requests);
  routes_.set_payload_max_length(config_.max_body);
}

Protocol::Framing HttpProtocol::frame(Connection &connection) {
  const HttpFraming http = frame_http_request(connection.buffer, kMaxHeaderBytes, config_.max_body);
  Framing framing;
  using State = HttpFraming::State;
  const auto refuse = [&](int status, const std::string &message) {
    note_refusal(connection, status);
    framing.state = Framing::State::kRefused;
    framing.reply = closing_error_answer(status, message);
    return framing;
  };
  switch (http.state) {
    case State::kComplete:
      framing.state = Framing::State::kComplete;
      framing.length = http.length;
      // Speech is the only POST route. Its target is not read here: the router
      // decodes it (%73peech is speech), and a speech request let onto the
      // quick threads could hold them all away from /health.
      framing.speech = http.method == "POST";
      return framing;
    case State::kIncomplete:
      if (http.expects_continue && !connection.continue_sent) {
        connection.continue_sent = true;
        framing.reply = kContinue;
      }
      return framing;
    case State::kHeadersTooLarge:
      return refuse(431, "the request's headers are over " + std::to_string(kMaxHeaderBytes) +
                             " bytes");
    case State::kBodyTooLarge:
      return refuse(413, "the request body is too large: at most " +
                             std::to_string(config_.max_body) + " bytes");
    case State::kNoLength:
      return refuse(411, "send the request body with a Content-Length, not in chunks");
    case State::kBadLength:
      return refuse(400, "the request's Content-Length is not a number");
  }
  return framing;
}

bool HttpProtocol::answer(Connection &connection) {
  ConnectionStream stream(connection, config_.write_limit);
  const bool last = stopping_ || connection.answered + 1 >= config_.keep_alive_requests;
  const bool keep = routes_.answer(stream, last);
  ++connection.answered;
  // What the library did not read of the request (a malformed one) goes with it.
  connection.buffer.erase(0, connection.message_length);
  return keep;
}

std::string HttpProtocol::late_reply() const {
  return closing_error_answer(408, "the request did not arrive whole within " +
                                       std::to_string(config_.deadline.count()) + " s");
}

std::string HttpProtocol::crowded_reply() const {
  return closing_error_answer(503, "too many connections from this address");
}
