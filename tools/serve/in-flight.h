#pragma once
// Speech answers still being sent, so that a stopping server lets them end
// before it closes their connections.

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>

class InFlight {
 public:
  // Held for as long as one answer is being made or sent.
  using Ticket = std::shared_ptr<void>;
  Ticket begin();
  // Waits until every ticket has been released.
  void wait_idle();

 private:
  std::mutex mutex_;
  std::condition_variable idle_;
  size_t count_ = 0;
};
