#include "json-error.h"

#include <httplib.h>

#include <nlohmann/json.hpp>

namespace {

constexpr const char *kRetryAfterSeconds = "1";

const char *error_type(int status) {
  switch (status) {
    case 400:
      return "invalid_request_error";
    case 404:
      return "not_found";
    case 413:
      return "request_too_large";
    case 503:
      return "unavailable";
    default:
      return "server_error";
  }
}

}  // namespace

void send_error(httplib::Response &response, int status, const std::string &message) {
  response.status = status;
  if (status == 503) response.set_header("Retry-After", kRetryAfterSeconds);
  const nlohmann::json body{{"error", {{"message", message}, {"type", error_type(status)}}}};
  response.set_content(body.dump() + "\n", "application/json");
}
