#include "text/log-echo.h"

#include <cstdio>
#include <cstring>

namespace {

bool in(unsigned char c, unsigned char lo, unsigned char hi) { return c >= lo && c <= hi; }

// Bytes of the valid UTF-8 sequence of a printable character at `p` (at most
// `left` bytes there), or 0 when the byte at `p` must be escaped.
size_t printable_length(const unsigned char *p, size_t left) {
  const unsigned char c = p[0];
  if (c < 0x80) return (c >= 0x20 && c != 0x7f) ? 1 : 0;
  size_t length = 0;
  unsigned char lo = 0x80, hi = 0xbf;  // the range of the second byte
  if (in(c, 0xc2, 0xdf)) {
    length = 2;
  } else if (in(c, 0xe0, 0xef)) {
    length = 3;
    if (c == 0xe0) lo = 0xa0;  // no overlong forms
    if (c == 0xed) hi = 0x9f;  // no surrogates
  } else if (in(c, 0xf0, 0xf4)) {
    length = 4;
    if (c == 0xf0) lo = 0x90;
    if (c == 0xf4) hi = 0x8f;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (left < length || !in(p[1], lo, hi)) return 0;
  for (size_t i = 2; i < length; ++i)
    if (!in(p[i], 0x80, 0xbf)) return 0;
  // C1 controls (U+0080..U+009F) move terminals as C0 ones do.
  if (c == 0xc2 && p[1] < 0xa0) return 0;
  return length;
}

}  // namespace

std::string log_echo(const char *text, size_t max_bytes) {
  if (!text) return "(null)";
  const size_t size = std::strlen(text);
  const auto *bytes = reinterpret_cast<const unsigned char *>(text);
  std::string out;
  size_t at = 0;
  while (at < size && at < max_bytes) {
    const size_t length = printable_length(bytes + at, size - at);
    if (length == 0) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", bytes[at]);
      out += escaped;
      ++at;
    } else {
      out.append(text + at, length);
      at += length;
    }
  }
  if (at < size) out += " ... (" + std::to_string(size) + " bytes)";
  return out;
}
