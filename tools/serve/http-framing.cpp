#include "http-framing.h"

#include <cctype>
#include <charconv>

namespace {

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// Offset just past the blank line that ends the header block, or npos.
size_t header_end(std::string_view bytes) {
  for (size_t at = bytes.find('\n'); at != std::string_view::npos; at = bytes.find('\n', at + 1)) {
    const size_t next = at + 1;
    if (next < bytes.size() && bytes[next] == '\n') return next + 1;
    if (next + 1 < bytes.size() && bytes[next] == '\r' && bytes[next + 1] == '\n') return next + 2;
  }
  return std::string_view::npos;
}

void read_request_line(std::string_view line, HttpFraming &framing) {
  const size_t space = line.find(' ');
  if (space != std::string_view::npos) framing.method = std::string(line.substr(0, space));
}

}  // namespace

HttpFraming frame_http_request(std::string_view bytes, size_t max_headers, size_t max_body) {
  HttpFraming framing;
  const size_t end = header_end(bytes);
  if (end == std::string_view::npos || end > max_headers) {
    if (bytes.size() > max_headers || end != std::string_view::npos)
      framing.state = HttpFraming::State::kHeadersTooLarge;
    return framing;
  }
  framing.header_length = end;
  size_t body = 0;
  size_t line_start = 0;
  for (bool first = true; line_start < end; first = false) {
    const size_t line_end = bytes.find('\n', line_start);
    const std::string_view line = trimmed(bytes.substr(line_start, line_end - line_start));
    line_start = line_end + 1;
    if (first) {
      read_request_line(line, framing);
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = trimmed(line.substr(0, colon));
    const std::string_view value = trimmed(line.substr(colon + 1));
    if (same_name(name, "Content-Length")) {
      const auto [rest, error] = std::from_chars(value.data(), value.data() + value.size(), body);
      if (error != std::errc() || rest != value.data() + value.size() || value.empty()) {
        framing.state = HttpFraming::State::kBadLength;
        return framing;
      }
    } else if (same_name(name, "Transfer-Encoding")) {
      framing.state = HttpFraming::State::kNoLength;
      return framing;
    } else if (same_name(name, "Expect")) {
      framing.expects_continue = same_name(value, "100-continue");
    }
  }
  if (body > max_body) {
    framing.state = HttpFraming::State::kBodyTooLarge;
    return framing;
  }
  framing.length = end + body;
  if (bytes.size() >= framing.length) framing.state = HttpFraming::State::kComplete;
  return framing;
}
