#include "connection-gate.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

// Open connections of all clients together: far below the usual limit of
// 1,024 open files, beyond which accept() itself would fail.
constexpr size_t kMaxConnections = 512;
constexpr size_t kReadPiece = 16384;

using Clock = std::chrono::steady_clock;

// The text form of a socket address, and its port.
std::pair<std::string, int> address_of(const sockaddr_storage &address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto &v4 = reinterpret_cast<const sockaddr_in &>(address);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    return {text, ntohs(v4.sin_port)};
  }
  const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(address);
  inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
  return {text, ntohs(v6.sin6_port)};
}

// A short answer the socket takes at once or never: the gate never waits on a client.
void send_now(int fd, const std::string &bytes) {
  if (!bytes.empty()) (void)::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

int open_listener(const std::string &host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo *found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
    throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) +
                             ": unknown address");
  }
  int fd = -1;
  int error = 0;
  for (addrinfo *at = found; at && fd < 0; at = at->ai_next) {
    fd = ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol);
    if (fd < 0) continue;
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, at->ai_addr, at->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
      error = errno;
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  if (fd < 0) {
    throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) + ": " +
                             std::strerror(error));
  }
  return fd;
}

}  // namespace

ConnectionGate::ConnectionGate(Config config)
    : config_(config), wake_fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (wake_fd_ < 0) throw std::runtime_error("cannot make an eventfd");
}

ConnectionGate::~ConnectionGate() {
  stop();
  close_listeners();
  ::close(wake_fd_);
}

void ConnectionGate::close_listeners() {
  for (Listener &listener : listeners_) {
    if (listener.fd >= 0) ::close(listener.fd);
    listener.fd = -1;
  }
}

int ConnectionGate::listen(const std::string &host, int port, Protocol &protocol) {
  const int fd = open_listener(host, port);
  listeners_.push_back({fd, &protocol});
  sockaddr_storage bound{};
  socklen_t size = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &size);
  return address_of(bound).second;
}

void ConnectionGate::start() {
  quick_ = std::make_unique<httplib::ThreadPool>(config_.quick_threads);
  speech_ = std::make_unique<httplib::ThreadPool>(config_.speech_threads);
  thread_ = std::thread([this] { run(); });
}

void ConnectionGate::stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  const uint64_t one = 1;
  (void)::write(wake_fd_, &one, sizeof one);
  thread_.join();
  quick_->shutdown();
  speech_->shutdown();
}

void ConnectionGate::run() {
  std::vector<pollfd> polled;
  bool listening = true;
  for (;;) {
    take_back();
    if (stopping_) {
      if (listening) {
        close_listeners();
        while (!waiting_.empty()) {
          close(std::move(waiting_.back()));
          waiting_.pop_back();
        }
        listening = false;
      }
      if (answering_ == 0) return;
    }

    polled.clear();
    polled.push_back({wake_fd_, POLLIN, 0});
    if (listening) {
      for (const Listener &listener : listeners_) polled.push_back({listener.fd, POLLIN, 0});
    }
    Clock::time_point soonest = Clock::now() + std::chrono::hours(1);
    for (const Owned &connection : waiting_) {
      polled.push_back({connection->fd, POLLIN, 0});
      soonest = std::min(soonest, connection->deadline);
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(soonest - Clock::now());
    const int ready = ::poll(polled.data(), polled.size(),
                             static_cast<int>(std::max<int64_t>(wait.count() + 1, 0)));
    if (ready < 0) {
      // EINTR, or short of memory for a moment: look again rather than give up serving.
      if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }

    uint64_t drained = 0;
    if (polled[0].revents) (void)::read(wake_fd_, &drained, sizeof drained);
    size_t at = 1;
    if (listening) {
      for (const Listener &listener : listeners_) {
        if (polled[at++].revents & POLLIN) accept_from(listener);
      }
    }
    // Framing and closing change waiting_ as this goes: each readable
    // connection is found by its descriptor.
    std::vector<int> readable;
    for (; at < polled.size(); ++at) {
      if (polled[at].revents) readable.push_back(polled[at].fd);
    }
    for (const int fd : readable) {
      const auto found = std::find_if(waiting_.begin(), waiting_.end(),
                                      [fd](const Owned &c) { return c->fd == fd; });
      if (found == waiting_.end()) continue;
      if (!read_from(**found)) {
        close(std::move(*found));
        waiting_.erase(found);
      } else {
        frame(found);
      }
    }
    expire(Clock::now());
  }
}

void ConnectionGate::accept_from(const Listener &listener) {
  for (;;) {
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    const int fd = ::accept4(listener.fd, reinterpret_cast<sockaddr *>(&peer), &size,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // none left (or a transient failure: the next poll retries)
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    connection->protocol = listener.protocol;
    std::tie(connection->peer_address, connection->peer_port) = address_of(peer);
    sockaddr_storage local{};
    size = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &size);
    std::tie(connection->local_address, connection->local_port) = address_of(local);
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);

    size_t &count = per_address_[connection->peer_address];
    if (count >= config_.per_address || open_count_ >= kMaxConnections) {
      listener.protocol->note_refusal(*connection, 503);
      send_now(fd, listener.protocol->crowded_reply());
      ::close(fd);
      if (count == 0) per_address_.erase(connection->peer_address);
      continue;
    }
    ++count;
    ++open_count_;
    connection->deadline = Clock::now() + config_.deadline;
    waiting_.push_back(std::move(connection));
  }
}

bool ConnectionGate::read_from(Connection &connection) {
  char piece[kReadPiece];
  for (;;) {
    const ssize_t got = ::recv(connection.fd, piece, sizeof piece, 0);
    if (got > 0) {
      connection.buffer.append(piece, static_cast<size_t>(got));
      if (static_cast<size_t>(got) < sizeof piece) return true;
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
  }
}

bool ConnectionGate::frame(std::vector<Owned>::iterator at) {
  Connection &connection = **at;
  const Protocol::Framing framing = connection.protocol->frame(connection);
  using State = Protocol::Framing::State;
  if (framing.state == State::kIncomplete) {
    send_now(connection.fd, framing.reply);
    return true;
  }
  if (framing.state == State::kRefused) {
    send_now(connection.fd, framing.reply);
    close(std::move(*at));
    waiting_.erase(at);
    return false;
  }
  connection.message_length = framing.length;
  Connection *taken = at->release();
  waiting_.erase(at);
  ++answering_;
  auto task = [this, taken] {
    bool keep = false;
    try {
      keep = taken->protocol->answer(*taken);
    } catch (...) {  // a protocol's failure ends its connection, never the thread
    }
    give_back(taken, keep);
  };
  (framing.speech ? speech_ : quick_)->enqueue(task);
  return true;
}

void ConnectionGate::give_back(Connection *connection, bool keep) {
  {
    const std::lock_guard<std::mutex> lock(returned_mutex_);
    returned_.emplace_back(connection, keep);
  }
  const uint64_t one = 1;
  (void)::write(wake_fd_, &one, sizeof one);
}

void ConnectionGate::take_back() {
  std::vector<std::pair<Connection *, bool>> returned;
  {
    const std::lock_guard<std::mutex> lock(returned_mutex_);
    returned.swap(returned_);
  }
  for (auto &[raw, keep] : returned) {
    Owned connection(raw);
    --answering_;
    if (!keep || stopping_) {
      close(std::move(connection));
      continue;
    }
    connection->message_length = 0;
    connection->continue_sent = false;
    connection->deadline = Clock::now() + config_.deadline;
    waiting_.push_back(std::move(connection));
    // A message may have arrived whole behind the one answered.
    if (!waiting_.back()->buffer.empty()) frame(waiting_.end() - 1);
  }
}

void ConnectionGate::expire(Clock::time_point now) {
  for (auto at = waiting_.begin(); at != waiting_.end();) {
    Connection &connection = **at;
    if (connection.deadline > now) {
      ++at;
      continue;
    }
    // Silence after an answer is an idle connection's end; part of a message is a late one.
    if (!connection.buffer.empty()) {
      connection.protocol->note_refusal(connection, 408);
      send_now(connection.fd, connection.protocol->late_reply());
    } else {
      send_now(connection.fd, connection.protocol->idle_reply(connection));
    }
    close(std::move(*at));
    at = waiting_.erase(at);
  }
}

void ConnectionGate::close(Owned connection) {
  ::close(connection->fd);
  const auto found = per_address_.find(connection->peer_address);
  if (found != per_address_.end() && --found->second == 0) per_address_.erase(found);
  --open_count_;
}
