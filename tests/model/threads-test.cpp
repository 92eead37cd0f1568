// A request's threads are its own thread's: never the count other threads see.
#include "model/threads.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <thread>

namespace {

TEST(RequestThreads, SetOnlyTheCallingThreadAndShareTheDefaultAmongRunningRequests) {
  const int outside = torch::get_num_threads();
  {
    const RequestThreads first(0);
    EXPECT_EQ(first.threads(), default_threads());
    EXPECT_EQ(torch::get_num_threads(), default_threads());
    int second_threads = 0, seen_elsewhere = 0;
    std::thread([&] {
      const RequestThreads second(0);  // two running: each gets its share, at least one
      second_threads = torch::get_num_threads();
      {
        const ThreadScope loading(1);
        EXPECT_EQ(torch::get_num_threads(), 1);
      }
      EXPECT_EQ(torch::get_num_threads(), second_threads);
    }).join();
    std::thread([&] { seen_elsewhere = torch::get_num_threads(); }).join();
    EXPECT_EQ(second_threads, std::max(1, default_threads() / 2));
    EXPECT_EQ(seen_elsewhere, outside);  // another thread keeps the process-wide count
    EXPECT_EQ(torch::get_num_threads(), default_threads());
    EXPECT_EQ(RequestThreads::running(), 1);
    const RequestThreads fixed(3);
    EXPECT_EQ(torch::get_num_threads(), 3);
  }
  EXPECT_EQ(RequestThreads::running(), 0);
  EXPECT_EQ(torch::get_num_threads(), outside);
}

}  // namespace
