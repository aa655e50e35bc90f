// The local heap: malloc blocks with their size kept in front, so that
// LocalSize answers and LocalReAlloc can zero what it adds.
#include "kernel/localmem.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {
constexpr size_t kHeader = 16;  // keeps the payload 16-byte aligned
SIZE_T& SizeOf(void* payload) { return *reinterpret_cast<SIZE_T*>(static_cast<char*>(payload) - kHeader); }
}  // namespace

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  if (bytes > (SIZE_T(1) << 40)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  char* raw = static_cast<char*>((flags & LMEM_ZEROINIT) ? std::calloc(1, kHeader + bytes) : std::malloc(kHeader + bytes));
  if (!raw) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  *reinterpret_cast<SIZE_T*>(raw) = bytes;
  return raw + kHeader;
}

HLOCAL LocalReAlloc(HLOCAL block, SIZE_T bytes, UINT flags) {
  if (!block) return LocalAlloc(flags, bytes);
  SIZE_T old = SizeOf(block);
  char* raw = static_cast<char*>(std::realloc(static_cast<char*>(block) - kHeader, kHeader + bytes));
  if (!raw) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  *reinterpret_cast<SIZE_T*>(raw) = bytes;
  if ((flags & LMEM_ZEROINIT) && bytes > old) std::memset(raw + kHeader + old, 0, bytes - old);
  return raw + kHeader;
}

HLOCAL LocalFree(HLOCAL block) {
  if (block) std::free(static_cast<char*>(block) - kHeader);
  return nullptr;
}

SIZE_T LocalSize(HLOCAL block) { return block ? SizeOf(block) : 0; }

namespace qk {

namespace {

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

// Pages already in place (the main thread got there first) cost the
// thread next to nothing; the work goes in slices from the bottom of the
// heap's free top, where the heap hands memory out first.
void BringIn(uintptr_t from, uintptr_t to) {
  constexpr uintptr_t kSlice = 64 * 1024;
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  for (uintptr_t at = from; at < to; at += kSlice) {
    uintptr_t end = std::min(to, at + kSlice);
    // The heap gives memory back only far above what this thread was
    // given; should it have, the rest is left.
    if (reinterpret_cast<uintptr_t>(sbrk(0)) < end) return;
    // A system without the call still has the reads bring the pages in,
    // only at a fault each.
    madvise(reinterpret_cast<void*>(at), end - at, MADV_POPULATE_WRITE);
    for (uintptr_t p = at; p < end; p += page) (void)*reinterpret_cast<volatile const char*>(p);
  }
}

// Takes a block of `bytes` and gives it straight back, so that the heap
// grows (or already has the room) and keeps it as free space at its top;
// the block's address, 0 when none was given.
uintptr_t TakeAndGiveBack(size_t bytes) {
  void* block = std::malloc(bytes);
  auto at = reinterpret_cast<uintptr_t>(block);
  std::free(block);
  return at;
}

uintptr_t PageUp(uintptr_t at) {
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  return (at + page - 1) & ~(page - 1);
}

uintptr_t PageDown(uintptr_t at) { return at & ~(static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)) - 1); }

}  // namespace

void WarmHeap(size_t bytes, std::function<void(bool warmed)> done) {
  auto before = reinterpret_cast<uintptr_t>(sbrk(0));
  uintptr_t block = TakeAndGiveBack(bytes);
  auto after = reinterpret_cast<uintptr_t>(sbrk(0));
  // The pages the heap grew by.
  uintptr_t from = PageUp(before);
  uintptr_t to = PageDown(after);
  if (!block || after <= before || to <= from) {
    if (done) done(false);
    return;
  }
  std::thread([from, to, done = std::move(done)] {
    BringIn(from, to);
    if (done) done(true);
  }).detach();
}

bool GrowHeapInLargePages(size_t bytes) {
  // Only whole aligned large pages can be used, and the heap's top is
  // rarely on a large page's boundary: one more than asked keeps `bytes`
  // in whole ones.
  constexpr size_t kLargePage = 2 * 1024 * 1024;
  const size_t size = bytes + kLargePage;
  uintptr_t at = TakeAndGiveBack(size);
  // A block the heap made by mapping lies above its break, and is gone.
  if (!at || at + size > reinterpret_cast<uintptr_t>(sbrk(0))) return false;
  uintptr_t from = PageUp(at);
  uintptr_t to = PageDown(at + size);
  return madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE) == 0;
}

}  // namespace qk
