#include "in-flight.h"

InFlight::Ticket InFlight::begin() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++count_;
  }
  return Ticket(nullptr, [this](void *) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (--count_ == 0) idle_.notify_all();
  });
}

void InFlight::wait_idle() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return count_ == 0; });
}
