#pragma once
// The server's listeners and the connections waiting on them. One thread
// polls every connection until a whole message has arrived, then hands it to
// a thread of the quick pool (health, lists, refusals) or of the speech pool,
// and takes the connection back for its next message. So a client that sends
// slowly, or not at all, holds a socket, never a thread: each message must
// arrive whole within the deadline, and one address may hold only so many
// connections.

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "connection.h"
#include "protocol.h"

class ConnectionGate {
 public:
  struct Config {
    std::chrono::milliseconds deadline{10000};  // for a whole message, from when waiting starts
    size_t per_address = 32;                    // open connections one client address may hold
    size_t quick_threads = 4;
    size_t speech_threads = 8;
  };

  explicit ConnectionGate(Config config);
  // Stops (as stop() does) if still running.
  ~ConnectionGate();
  ConnectionGate(const ConnectionGate &) = delete;
  ConnectionGate &operator=(const ConnectionGate &) = delete;

  // Listens on host:port (0: a free port) for `protocol`, which must outlive
  // the gate; returns the port. Throws std::runtime_error when it cannot.
  // Before start() only.
  int listen(const std::string &host, int port, Protocol &protocol);

  void start();
  // Closes the listeners and the waiting connections, lets the messages being
  // answered finish, then ends the threads.
  void stop();

  size_t open_connections() const { return open_count_; }

 private:
  struct Listener {
    int fd;
    Protocol *protocol;
  };
  using Owned = std::unique_ptr<Connection>;

  void run();
  void close_listeners();
  void accept_from(const Listener &listener);
  // Reads what has arrived; false when the connection is done with.
  bool read_from(Connection &connection);
  // Frames the buffer: hands a whole message to a pool, refuses or waits.
  // false when the connection was refused.
  bool frame(std::vector<Owned>::iterator at);
  void take_back();
  void expire(std::chrono::steady_clock::time_point now);
  void close(Owned connection);
  // From a pool thread: the message is answered.
  void give_back(Connection *connection, bool keep);

  const Config config_;
  std::vector<Listener> listeners_;
  std::vector<Owned> waiting_;
  std::map<std::string, size_t> per_address_;
  std::atomic<size_t> open_count_{0};
  size_t answering_ = 0;  // gate thread only

  std::mutex returned_mutex_;
  std::vector<std::pair<Connection *, bool>> returned_;
  int wake_fd_ = -1;
  std::atomic<bool> stopping_{false};

  std::unique_ptr<httplib::ThreadPool> quick_;
  std::unique_ptr<httplib::ThreadPool> speech_;
  std::thread thread_;
};
