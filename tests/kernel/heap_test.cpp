// The heap brought in ahead on a thread of its own: what the program writes
// meanwhile stays as written, and the memory it is handed next is already
// in place.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
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

// The transparent large pages, in KB, of the mappings that [p, p + size)
// overlaps (the heap may be split where large pages were asked for).
[[maybe_unused]] long LargePagesUnder(const void* p, size_t size) {
  FILE* f = std::fopen("/proc/self/smaps", "r");
  if (!f) return -1;
  auto from = reinterpret_cast<uintptr_t>(p);
  auto to = from + size;
  char line[512];
  bool overlaps = false;
  long total = 0;
  while (std::fgets(line, sizeof line, f)) {
    unsigned long lo = 0, hi = 0;
    char* space = std::strchr(line, ' ');
    if (std::sscanf(line, "%lx-%lx ", &lo, &hi) == 2 && space && std::strchr(line, '-') < space) {
      overlaps = lo < to && from < hi;
      continue;
    }
    long kb = 0;
    if (overlaps && std::sscanf(line, "AnonHugePages: %ld kB", &kb) == 1) total += kb;
  }
  std::fclose(f);
  return total;
}

// Whether this system gives large pages to a range that asks for them.
[[maybe_unused]] bool LargePagesOnRequest() {
  FILE* f = std::fopen("/sys/kernel/mm/transparent_hugepage/enabled", "r");
  if (!f) return false;
  char text[128] = {};
  bool on = std::fgets(text, sizeof text, f) && !std::strstr(text, "[never]");
  std::fclose(f);
  return on;
}

TEST(WarmHeap, AHeapGrownInLargePagesHandsItsMemoryOutInLargePages) {
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 128 * 1024 * 1024);
  // As when a program starts: no free memory already in place at the top
  // of the heap.
  malloc_trim(0);
  constexpr size_t kBytes = 6 * 1024 * 1024;
  const bool grown = qk::GrowHeapInLargePages(kBytes);
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_FALSE(grown);
#else
  if (!LargePagesOnRequest()) GTEST_SKIP() << "the system gives no transparent large pages";
  ASSERT_TRUE(grown);
  // The run's memory: a large block and many small ones, all from the
  // grown heap, written and read back whole.
  auto* big = static_cast<unsigned char*>(std::malloc(4 * 1024 * 1024));
  ASSERT_NE(big, nullptr);
  std::memset(big, 0x5A, 4 * 1024 * 1024);
  std::vector<unsigned char*> small;
  for (int i = 0; i < 300; ++i) {
    small.push_back(static_cast<unsigned char*>(std::malloc(3000)));
    std::memset(small.back(), i & 0xFF, 3000);
  }
  // At least one whole large page lies under the 4 MB block.
  EXPECT_GE(LargePagesUnder(big, 4 * 1024 * 1024), 2048) << "the grown heap is not in large pages";
  for (size_t k = 0; k < 4 * 1024 * 1024; k += 4093) ASSERT_EQ(big[k], 0x5A);
  for (int i = 0; i < 300; ++i) {
    for (size_t k = 0; k < 3000; k += 97) ASSERT_EQ(small[size_t(i)][k], i & 0xFF);
    std::free(small[size_t(i)]);
  }
  std::free(big);
#endif
}

}  // namespace
