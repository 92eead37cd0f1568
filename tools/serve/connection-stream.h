#pragma once
// The HTTP library's view of a connection the gate has framed: reads come
// from the bytes already received (the whole request is there), writes go to
// the socket, each waiting at most the write limit for the client to take them.

#include <httplib.h>

#include <chrono>

#include "connection.h"

class ConnectionStream : public httplib::Stream {
 public:
  ConnectionStream(Connection &connection, std::chrono::milliseconds write_limit)
      : connection_(connection), write_limit_(write_limit) {}

  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char *ptr, size_t size) override;
  ssize_t write(const char *ptr, size_t size) override;
  void get_remote_ip_and_port(std::string &ip, int &port) const override;
  void get_local_ip_and_port(std::string &ip, int &port) const override;
  socket_t socket() const override { return connection_.fd; }

 private:
  Connection &connection_;
  const std::chrono::milliseconds write_limit_;
  size_t consumed_ = 0;  // bytes of the framed message read
};
