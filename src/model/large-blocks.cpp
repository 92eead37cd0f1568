#include "model/large-blocks.h"

#include <c10/core/Allocator.h>
#include <c10/core/CPUAllocator.h>
#include <c10/core/impl/alloc_cpu.h>
#include <sanitizer/asan_interface.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>

namespace {

constexpr size_t kLargeBytes = size_t{1} << 20;
// Every block starts with its mapped size (0 for the heap's), in a prefix that
// keeps the data as aligned as the tensor library's own allocations.
constexpr size_t kPrefix = 64;
constexpr size_t kMaxBytes = size_t{1} << 48;
// Kept blocks are resident memory that nothing uses: past this much, the
// longest unused go back to the system before another block is mapped. With
// 64 MiB a paragraph spoke 15 % faster than from the heap, at the heap's usual
// peak; with 128 MiB 25 % faster, at 70 MiB more.
constexpr size_t kKeptBudget = size_t{64} << 20;

size_t whole_pages(size_t bytes) { return (bytes + 4095) / 4096 * 4096; }

size_t &mapped_size_of(void *data) {
  return *static_cast<size_t *>(static_cast<void *>(static_cast<char *>(data) - kPrefix));
}

thread_local bool this_thread_pools = false;

class LargeBlockPool final : public c10::Allocator {
 public:
  // Never destroyed: tensors freed by other objects' destructors at exit still
  // come back to it.
  static LargeBlockPool &instance() {
    static auto *pool = new LargeBlockPool;
    return *pool;
  }

  c10::DataPtr allocate(size_t n) const override {
    TORCH_CHECK(n <= kMaxBytes, "cannot allocate ", n, " bytes");
    if (n == 0) return {nullptr, nullptr, &release, c10::Device(c10::DeviceType::CPU)};
    void *data = this_thread_pools && n >= kLargeBytes ? instance().take(n) : nullptr;
    if (!data) {
      data = static_cast<char *>(c10::alloc_cpu(n + kPrefix)) + kPrefix;
      mapped_size_of(data) = 0;
    }
    return {data, data, &release, c10::Device(c10::DeviceType::CPU)};
  }

  c10::DeleterFnPtr raw_deleter() const override { return &release; }

  static void release(void *data) {
    if (!data) return;
    const size_t bytes = mapped_size_of(data);
    if (bytes == 0)
      c10::free_cpu(static_cast<char *>(data) - kPrefix);
    else
      instance().give_back(data, bytes);
  }

  void open() {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++open_calls_;
  }

  // Blocks are kept while any call runs: parallel requests share them.
  void close() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (--open_calls_ > 0) return;
    while (!kept_.empty()) unmap_kept(kept_.begin());
  }

  unsigned long long mapped_bytes() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return mapped_;
  }

 private:
  struct Kept {
    void *data;
    uint64_t since;  // when it was given back
  };
  using KeptBlocks = std::multimap<size_t, Kept>;

  // The data of a block for `n` bytes, or null when the system has none to
  // map. A kept block serves a request of up to twice its size: activations
  // come in many nearby sizes, and mapping costs a page fault per page.
  void *take(size_t n) {
    const size_t bytes = whole_pages(n + kPrefix);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      const auto found = kept_.lower_bound(bytes);
      if (found != kept_.end() && found->first <= 2 * bytes) {
        void *data = found->second.data;
        const size_t found_bytes = found->first;
        kept_bytes_ -= found_bytes;
        kept_.erase(found);
        return lend(data, found_bytes, n);
      }
      while (!kept_.empty() && kept_bytes_ + bytes > kKeptBudget) unmap_kept(longest_unused());
    }
    void *base = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return nullptr;
    void *data = static_cast<char *>(base) + kPrefix;
    mapped_size_of(data) = bytes;
    const std::lock_guard<std::mutex> lock(mutex_);
    mapped_ += bytes;
    return lend(data, bytes, n);
  }

  // Under AddressSanitizer a kept block, and the part of a block past its
  // tensor, are poisoned: reads and writes there are reported as on the heap.
  static void *lend(void *data, size_t bytes, size_t n) {
    ASAN_UNPOISON_MEMORY_REGION(data, n);
    ASAN_POISON_MEMORY_REGION(static_cast<char *>(data) + n, bytes - kPrefix - n);
    return data;
  }

  // Freed blocks may come from any thread (the tensor library's workers).
  void give_back(void *data, size_t bytes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (open_calls_ == 0) {
      unmap(data, bytes);
      return;
    }
    ASAN_POISON_MEMORY_REGION(data, bytes - kPrefix);
    kept_.emplace(bytes, Kept{data, ++clock_});
    kept_bytes_ += bytes;
  }

  KeptBlocks::iterator longest_unused() {
    return std::min_element(kept_.begin(), kept_.end(), [](const auto &a, const auto &b) {
      return a.second.since < b.second.since;
    });
  }

  void unmap_kept(KeptBlocks::iterator block) {
    kept_bytes_ -= block->first;
    unmap(block->second.data, block->first);
    kept_.erase(block);
  }

  void unmap(void *data, size_t bytes) {
    ASAN_UNPOISON_MEMORY_REGION(data, bytes - kPrefix);
    munmap(static_cast<char *>(data) - kPrefix, bytes);
    mapped_ -= bytes;
  }

  std::mutex mutex_;
  int open_calls_ = 0;  // calls between large_blocks_open and large_blocks_close
  KeptBlocks kept_;
  size_t kept_bytes_ = 0;
  uint64_t clock_ = 0;
  unsigned long long mapped_ = 0;
};

}  // namespace

void large_blocks_open() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    if (c10::GetCPUAllocator() == c10::GetDefaultCPUAllocator())
      c10::SetCPUAllocator(&LargeBlockPool::instance());
  });
  LargeBlockPool::instance().open();
  this_thread_pools = true;
}

void large_blocks_close() {
  this_thread_pools = false;
  LargeBlockPool::instance().close();
}

unsigned long long large_blocks_mapped_bytes() { return LargeBlockPool::instance().mapped_bytes(); }
