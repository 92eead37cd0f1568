// The engine's pool of large tensor blocks: reuse inside a call, nothing kept
// after it, and tensors that outlive the call or come from elsewhere unharmed.
#include "model/large-blocks.h"

#include <c10/core/CPUAllocator.h>
#include <gtest/gtest.h>
#include <torch/torch.h>

#include <thread>

namespace {

constexpr unsigned long long kMiB = 1 << 20;

// One engine call: the pool is open for the scope's life.
struct PooledCall {
  PooledCall() { large_blocks_open(); }
  ~PooledCall() { large_blocks_close(); }
};

torch::Tensor large(int64_t mib) { return torch::empty({mib * (1 << 18)}); }  // fp32

TEST(LargeBlocks, AFreedBlockServesTheNextRequestOfItsSizeAndGoesAtTheEnd) {
  const auto before = large_blocks_mapped_bytes();
  {
    const PooledCall call;
    const void *first = nullptr;
    {
      const auto t = large(4);
      first = t.data_ptr();
      EXPECT_GE(large_blocks_mapped_bytes(), before + 4 * kMiB);
    }
    const auto mapped = large_blocks_mapped_bytes();
    const auto again = large(4);
    EXPECT_EQ(again.data_ptr(), first);
    // A smaller request fits a kept block of up to twice its size.
    const void *kept = nullptr;
    {
      const auto t = large(6);
      kept = t.data_ptr();
    }
    EXPECT_EQ(large(3).data_ptr(), kept);
    EXPECT_EQ(large_blocks_mapped_bytes(), mapped + 6 * kMiB + 4096);
  }
  EXPECT_EQ(large_blocks_mapped_bytes(), before);
}

TEST(LargeBlocks, ATensorThatOutlivesItsCallStaysValidAndIsUnmappedWhenFreed) {
  const auto before = large_blocks_mapped_bytes();
  torch::Tensor kept;
  {
    const PooledCall call;
    kept = torch::arange(2 * (1 << 18), torch::kFloat);
  }
  EXPECT_GT(large_blocks_mapped_bytes(), before);
  EXPECT_FLOAT_EQ(kept[123456].item<float>(), 123456.0f);
  EXPECT_DOUBLE_EQ(kept.sum().item<double>(), 2.0 * (1 << 18) * (2 * (1 << 18) - 1) / 2);
  kept = torch::Tensor();
  EXPECT_EQ(large_blocks_mapped_bytes(), before);
}

TEST(LargeBlocks, SmallTensorsAndOtherThreadsUseTheHeap) {
  const PooledCall call;
  const auto before = large_blocks_mapped_bytes();
  const auto small = torch::ones({1000});
  torch::Tensor elsewhere;
  std::thread([&] { elsewhere = large(2); }).join();
  EXPECT_EQ(large_blocks_mapped_bytes(), before);
  EXPECT_FLOAT_EQ(small.sum().item<float>(), 1000.0f);
  elsewhere.fill_(1.0f);
  EXPECT_FLOAT_EQ(elsewhere.sum().item<float>(), 2.0f * (1 << 18));
}

TEST(LargeBlocks, KeptBlocksStayWithinTheirBudget) {
  const PooledCall call;
  const auto before = large_blocks_mapped_bytes();
  // Twenty freed blocks of 5 to 24 MiB: none fits the next, larger request.
  for (int mib = 5; mib < 25; ++mib) large(mib);
  EXPECT_LE(large_blocks_mapped_bytes(), before + 64 * kMiB);
  // Making room for a block of more than the budget gives back every kept one.
  const auto live = large(100);
  EXPECT_EQ(large_blocks_mapped_bytes(), before + 100 * kMiB + 4096);
}

TEST(LargeBlocks, RawAllocationsAndEmptyTensorsWork) {
  const PooledCall call;
  c10::Allocator *allocator = c10::GetCPUAllocator();
  for (const size_t bytes : {size_t{16}, size_t{3} << 20}) {
    void *p = allocator->raw_allocate(bytes);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 64, 0u);
    static_cast<char *>(p)[bytes - 1] = 1;
    allocator->raw_deallocate(p);
  }
  EXPECT_EQ(torch::empty({0}).numel(), 0);
  EXPECT_THROW(torch::empty({int64_t{1} << 50}), c10::Error);
}

#if defined(__SANITIZE_ADDRESS__)
// Mapped blocks are not the heap, so AddressSanitizer knows them only as the
// pool poisons them.
TEST(LargeBlocksDeathTest, AddressSanitizerSeesPastATensorAndIntoAKeptBlock) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        const PooledCall call;
        const auto t = large(2);
        static_cast<volatile char *>(t.data_ptr())[t.nbytes()] = 1;
      },
      "AddressSanitizer");
  EXPECT_DEATH(
      {
        const PooledCall call;
        volatile char *freed = nullptr;
        { freed = static_cast<char *>(large(2).data_ptr()); }
        freed[0] = 1;
      },
      "AddressSanitizer");
}
#endif

}  // namespace
