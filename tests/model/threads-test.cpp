// The thread count a voice loads with, and the one its requests get after.
#include "model/threads.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <cstdlib>

namespace {

TEST(SingleThreadScope, OneThreadInsideTheConfiguredCountAfter) {
  const char *saved = std::getenv("OMP_NUM_THREADS");
  const std::string restore = saved ? saved : "";
  setenv("OMP_NUM_THREADS", "3", 1);
  {
    const SingleThreadScope loading;
    EXPECT_EQ(torch::get_num_threads(), 1);
  }
  EXPECT_EQ(torch::get_num_threads(), 3);
  if (saved)
    setenv("OMP_NUM_THREADS", restore.c_str(), 1);
  else
    unsetenv("OMP_NUM_THREADS");
}

}  // namespace
