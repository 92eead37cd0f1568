#pragma once
// One client connection as the gate and the protocols see it: its socket, who
// is at the other end, the bytes received and not yet answered, and what the
// protocol keeps between the messages of one conversation.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

class Protocol;

struct Connection {
  int fd = -1;
  std::string peer_address;  // as the address counts know it: "127.0.0.1", "::1"
  int peer_port = 0;
  std::string local_address;
  int local_port = 0;
  Protocol *protocol = nullptr;  // the listener's: HTTP or Wyoming

  std::string buffer;  // received, not yet answered
  size_t message_length = 0;  // bytes of the whole message at the buffer's start, once framed
  bool continue_sent = false;  // an HTTP "100 Continue" went out for the waiting request
  size_t answered = 0;         // messages answered on this connection
  std::chrono::steady_clock::time_point deadline;  // the waiting message must be whole by then
  std::shared_ptr<void> session;  // the protocol's state between messages
};
