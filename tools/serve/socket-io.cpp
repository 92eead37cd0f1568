#include "socket-io.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

bool wait_for(int fd, short events, std::chrono::milliseconds limit) {
  pollfd entry{fd, events, 0};
  int ready;
  do {
    ready = ::poll(&entry, 1, static_cast<int>(limit.count()));
  } while (ready < 0 && errno == EINTR);
  return ready > 0 && (entry.revents & (events | POLLHUP | POLLERR)) != 0;
}

bool send_all(int fd, std::string_view bytes, std::chrono::milliseconds limit) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      bytes.remove_prefix(static_cast<size_t>(sent));
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!wait_for(fd, POLLOUT, limit)) return false;
    } else {
      return false;
    }
  }
  return true;
}

ssize_t receive(int fd, char *out, size_t size, std::chrono::milliseconds limit) {
  for (;;) {
    const ssize_t got = ::recv(fd, out, size, 0);
    if (got >= 0) return got;
    if (errno == EINTR) continue;
    if ((errno != EAGAIN && errno != EWOULDBLOCK) || !wait_for(fd, POLLIN, limit)) return -1;
  }
}
