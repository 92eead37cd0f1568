#include "connection-stream.h"

#include <poll.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "socket-io.h"

namespace {

constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

}  // namespace

bool ConnectionStream::is_readable() const {
  return consumed_ < connection_.message_length;
}

bool ConnectionStream::is_writable() const {
  return wait_for(connection_.fd, POLLOUT, write_limit_);
}

// Only the framed message is read: whatever follows it in the buffer is the
// next request's, and a request that reads past its own end finds nothing.
ssize_t ConnectionStream::read(char *ptr, size_t size) {
  const size_t count = std::min(size, connection_.message_length - consumed_);
  std::memcpy(ptr, connection_.buffer.data() + consumed_, count);
  consumed_ += count;
  return static_cast<ssize_t>(count);
}

ssize_t ConnectionStream::write(const char *ptr, size_t size) {
  const std::string_view bytes(ptr, size);
  // The gate has already told the client to send its body.
  if (connection_.continue_sent && bytes == kContinue) return static_cast<ssize_t>(size);
  return send_all(connection_.fd, bytes, write_limit_) ? static_cast<ssize_t>(size) : -1;
}

void ConnectionStream::get_remote_ip_and_port(std::string &ip, int &port) const {
  ip = connection_.peer_address;
  port = connection_.peer_port;
}

void ConnectionStream::get_local_ip_and_port(std::string &ip, int &port) const {
  ip = connection_.local_address;
  port = connection_.local_port;
}
