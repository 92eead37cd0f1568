#include "json-error.h"

#include <httplib.h>

#include <nlohmann/json.hpp>

namespace {

constexpr const char *kRetryAfterSeconds = "1";

const char *error_type(int status) {
  switch (status) {
    case 400:
    case 408:
    case 411:
    case 431:
      return "invalid_request_error";
    case 404:
      return "not_found";
    case 401:
      return "authentication_error";
    case 413:
      return "request_too_large";
    case 503:
      return "unavailable";
    default:
      return "server_error";
  }
}

const char *reason_phrase(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 408:
      return "Request Timeout";
    case 411:
      return "Length Required";
    case 413:
      return "Payload Too Large";
    case 431:
      return "Request Header Fields Too Large";
    default:
      return "Service Unavailable";
  }
}

std::string error_body(int status, const std::string &message) {
  const nlohmann::json body{{"error", {{"message", message}, {"type", error_type(status)}}}};
  return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace

void send_error(httplib::Response &response, int status, const std::string &message) {
  response.status = status;
  if (status == 503) response.set_header("Retry-After", kRetryAfterSeconds);
  response.set_content(error_body(status, message), "application/json");
}

std::string closing_error_answer(int status, const std::string &message) {
  const std::string body = error_body(status, message);
  std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + reason_phrase(status) +
                       "\r\nContent-Type: application/json\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\nConnection: close\r\n";
  if (status == 503) answer += std::string("Retry-After: ") + kRetryAfterSeconds + "\r\n";
  return answer + "\r\n" + body;
}
