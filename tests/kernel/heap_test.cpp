// The heap brought in ahead on a thread of its own: what the program writes
// meanwhile stays as written, and the memory it is handed next is already
// in place.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <future>
#include <vector>

#include "kernel/localmem.h"

namespace {

// Pages of [p, p + size) in memory now.
[[maybe_unused]] size_t ResidentPages(void* p, size_t size, size_t* total) {
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  uintptr_t from = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
  uintptr_t to = (reinterpret_cast<uintptr_t>(p) + size) & ~(page - 1);
  std::vector<unsigned char> in((to - from) / page);
  *total = in.size();
  if (mincore(reinterpret_cast<void*>(from), to - from, in.data()) != 0) return 0;
  size_t count = 0;
  for (unsigned char c : in) count += c & 1;
  return count;
}

TEST(WarmHeap, WritesMadeWhileItRunsStayAndTheNextMemoryIsAlreadyInPlace) {
  // As the programs set their heap: large blocks from the heap, kept there.
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 128 * 1024 * 1024);
  constexpr size_t kBytes = 16 * 1024 * 1024;
  std::promise<bool> ended;
  std::future<bool> warmed = ended.get_future();
  qk::WarmHeap(kBytes, [&](bool any) { ended.set_value(any); });

  // The program goes on using the heap at once, in the memory being warmed.
  std::vector<unsigned char*> blocks;
  for (int i = 0; i < 200; ++i) {
    size_t size = 4096 + size_t(i) * 331;
    auto* b = static_cast<unsigned char*>(std::malloc(size));
    ASSERT_NE(b, nullptr);
    std::memset(b, i & 0xFF, size);
    blocks.push_back(b);
  }
  ASSERT_EQ(warmed.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  const bool any = warmed.get();
  for (int i = 0; i < 200; ++i) {
    size_t size = 4096 + size_t(i) * 331;
    for (size_t k = 0; k < size; k += 97) ASSERT_EQ(blocks[size_t(i)][k], i & 0xFF) << "block " << i << " byte " << k;
    std::free(blocks[size_t(i)]);
  }

#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer's allocator takes nothing from the heap: nothing to warm.
  EXPECT_FALSE(any);
#else
  ASSERT_TRUE(any);
  // The next large block comes from the warmed heap, its pages already in.
  constexpr size_t kNext = 8 * 1024 * 1024;
  void* next = std::malloc(kNext);
  ASSERT_NE(next, nullptr);
  size_t total = 0;
  size_t resident = ResidentPages(next, kNext, &total);
  EXPECT_GE(resident * 10, total * 9) << resident << " of " << total << " pages in place";
  std::free(next);
#endif
}

}  // namespace
