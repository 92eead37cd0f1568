#pragma once
// Where one HTTP/1.1 request ends in the bytes received so far, read from its
// header block alone: the blank line, then Content-Length bytes of body. The
// gate waits for that much before a thread reads the request.

#include <cstddef>
#include <string>
#include <string_view>

struct HttpFraming {
  enum class State {
    kIncomplete,
    kComplete,
    kHeadersTooLarge,  // no blank line within the header limit: 431
    kBodyTooLarge,     // Content-Length over the body limit: 413
    kNoLength,         // a body sent in chunks (Transfer-Encoding): 411
    kBadLength,        // Content-Length not a number: 400
  };
  State state = State::kIncomplete;
  size_t length = 0;              // kComplete: header block and body
  size_t header_length = 0;       // once the blank line has arrived
  bool expects_continue = false;  // "Expect: 100-continue"
  std::string method;             // from the request line, once the header block is whole
};

// The request at the start of `bytes`. Header lines may end in "\r\n" or "\n".
HttpFraming frame_http_request(std::string_view bytes, size_t max_headers, size_t max_body);
