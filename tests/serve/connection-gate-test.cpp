// The gate on real loopback sockets, with a protocol of text lines: a slow
// or silent client holds a socket, never a thread; each message must arrive
// whole in time; one address holds only so many connections.
#include "connection-gate.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Generous: a loaded machine is slow, and no test here measures speed.
constexpr int kWaitMs = 60000;

// Messages are lines; "slow ..." lines are speech and wait until released;
// every line is answered with "ok LINE\n".
class LineProtocol : public Protocol {
 public:
  LineProtocol() : Protocol([this](const Connection &, int status) { refusals.push_back(status); }) {}

  Framing frame(Connection &connection) override {
    Framing framing;
    const size_t end = connection.buffer.find('\n');
    if (connection.buffer.size() > 64 && end == std::string::npos) {
      framing.state = Framing::State::kRefused;
      framing.reply = "too long\n";
    } else if (end != std::string::npos) {
      framing.state = Framing::State::kComplete;
      framing.length = end + 1;
      framing.speech = connection.buffer.rfind("slow", 0) == 0;
    }
    return framing;
  }
  bool answer(Connection &connection) override {
    const std::string line = connection.buffer.substr(0, connection.message_length - 1);
    connection.buffer.erase(0, connection.message_length);
    if (line.rfind("slow", 0) == 0) {
      std::unique_lock<std::mutex> lock(mutex_);
      ++held_;
      changed_.notify_all();
      changed_.wait(lock, [this] { return released_; });
    }
    const std::string reply = "ok " + line + "\n";
    return ::send(connection.fd, reply.data(), reply.size(), MSG_NOSIGNAL) > 0 && line != "bye";
  }
  std::string late_reply() const override { return "late\n"; }
  std::string crowded_reply() const override { return "crowded\n"; }

  void wait_held(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return held_ >= count; });
  }
  void release() {
    const std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

  std::vector<int> refusals;  // gate thread only, read once it has stopped

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int held_ = 0;
  bool released_ = false;
};

int connect_to(int port, const char *from = "127.0.0.1") {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, from, &local.sin_addr);
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local), 0);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&server), sizeof server), 0);
  return fd;
}

void put(int fd, const std::string &bytes) {
  ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

// What arrives until `lines` line ends have, or the server closes, or the wait is over.
std::string take(int fd, int lines = 1) {
  std::string got;
  char piece[256];
  while (std::count(got.begin(), got.end(), '\n') < lines) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, kWaitMs) <= 0) break;
    const ssize_t n = ::recv(fd, piece, sizeof piece, 0);
    if (n <= 0) break;
    got.append(piece, static_cast<size_t>(n));
  }
  return got;
}

// Whether the server has closed `fd` (after whatever it sent).
bool closed_by_server(int fd) {
  take(fd, 1000);
  char byte;
  return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

bool refuses_connections(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
  const bool refused = ::connect(fd, reinterpret_cast<sockaddr *>(&server), sizeof server) != 0;
  ::close(fd);
  return refused;
}

struct Gate {
  explicit Gate(ConnectionGate::Config config) : gate(config) {
    port = gate.listen("127.0.0.1", 0, protocol);
    gate.start();
  }
  LineProtocol protocol;
  ConnectionGate gate;
  int port = 0;
};

}  // namespace

TEST(ConnectionGate, SlowSendersHoldSocketsNotThreads) {
  Gate g({std::chrono::seconds(120), 64, 1, 1});
  std::vector<int> drippers;
  for (int i = 0; i < 25; ++i) {
    drippers.push_back(connect_to(g.port));
    put(drippers.back(), "slow and never");
  }
  // One thread of each pool, the speech thread taken, 25 connections holding
  // half a message: a whole quick message is still answered.
  const int speaker = connect_to(g.port);
  put(speaker, "slow speech\n");
  g.protocol.wait_held(1);
  const int client = connect_to(g.port);
  put(client, "health\n");
  EXPECT_EQ(take(client), "ok health\n");
  g.protocol.release();
  EXPECT_EQ(take(speaker), "ok slow speech\n");
  ::close(speaker);
  for (int fd : drippers) ::close(fd);
  ::close(client);
}

TEST(ConnectionGate, AMessageMustArriveWholeInTimeAndIdleConnectionsClose) {
  Gate g({std::chrono::milliseconds(300), 64, 1, 1});
  const int partial = connect_to(g.port);
  const int idle = connect_to(g.port);
  const int served = connect_to(g.port);
  put(partial, "half a mess");
  put(served, "a\n");
  EXPECT_EQ(take(served), "ok a\n");
  EXPECT_EQ(take(partial), "late\n");
  EXPECT_TRUE(closed_by_server(partial));
  EXPECT_EQ(take(idle), "");  // closed without a word
  EXPECT_TRUE(closed_by_server(served));  // idle after its answer, for as long
  g.gate.stop();
  EXPECT_EQ(g.protocol.refusals, std::vector<int>{408});
  for (int fd : {partial, idle, served}) ::close(fd);
}

TEST(ConnectionGate, OneAddressHoldsAtMostItsShareOfConnections) {
  Gate g({std::chrono::seconds(120), 3, 1, 1});
  std::vector<int> held;
  for (int i = 0; i < 3; ++i) held.push_back(connect_to(g.port));
  const int fourth = connect_to(g.port);
  EXPECT_EQ(take(fourth), "crowded\n");
  EXPECT_TRUE(closed_by_server(fourth));
  // Another address is counted apart.
  const int other = connect_to(g.port, "127.0.0.2");
  put(other, "hi\n");
  EXPECT_EQ(take(other), "ok hi\n");
  // A connection closed makes room again.
  put(held[0], "bye\n");
  EXPECT_EQ(take(held[0]), "ok bye\n");
  EXPECT_TRUE(closed_by_server(held[0]));
  const int again = connect_to(g.port);
  put(again, "back\n");
  EXPECT_EQ(take(again), "ok back\n");
  for (int fd : held) ::close(fd);
  for (int fd : {fourth, other, again}) ::close(fd);
}

TEST(ConnectionGate, PipelinedMessagesAreAnsweredInTurnAndOversizedOnesRefused) {
  Gate g({std::chrono::seconds(120), 64, 2, 1});
  const int fd = connect_to(g.port);
  put(fd, "one\ntwo\nthr");
  EXPECT_EQ(take(fd, 2), "ok one\nok two\n");
  put(fd, "ee\n");
  EXPECT_EQ(take(fd), "ok three\n");
  put(fd, std::string(70, 'x'));
  EXPECT_EQ(take(fd), "too long\n");
  EXPECT_TRUE(closed_by_server(fd));
  ::close(fd);
}

TEST(ConnectionGate, StoppingLetsTheMessageBeingAnsweredFinishAndClosesTheRest) {
  Gate g({std::chrono::seconds(120), 64, 1, 1});
  const int speaking = connect_to(g.port);
  const int waiting = connect_to(g.port);
  put(speaking, "slow one\n");
  g.protocol.wait_held(1);
  std::thread stopper([&] { g.gate.stop(); });
  EXPECT_TRUE(closed_by_server(waiting));
  g.protocol.release();
  EXPECT_EQ(take(speaking), "ok slow one\n");
  stopper.join();
  EXPECT_TRUE(closed_by_server(speaking));
  EXPECT_TRUE(refuses_connections(g.port));
  ::close(speaking);
  ::close(waiting);
}
