// The local heap of the platform: blocks owned by whoever the caller hands
// them to, freed with LocalFree.
#pragma once

#include <cstddef>
#include <functional>

#include "kernel/types.h"

#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalReAlloc(HLOCAL block, SIZE_T bytes, UINT flags);
HLOCAL LocalFree(HLOCAL block);  // null on success
SIZE_T LocalSize(HLOCAL block);

namespace qk {

// Grows the process heap by about `bytes` and brings those pages in on a
// thread of its own, so that the first screens of a program find their
// memory ready. On a virtual machine the first write to a fresh page costs
// ten times a write to one already in use, and a screen-sized bitmap has
// hundreds of pages. The memory stays the heap's to hand out: the thread
// only asks the system for the pages and reads one byte of each, and what
// the program writes there meanwhile is left as it is. Call it once, early,
// with the heap's trim threshold above `bytes` (else the heap gives the
// memory back at once); a heap that does not grow (a sanitizer's allocator,
// a size served by mapping) leaves it undone. `done`, when given, is called
// once the work ends, on the thread that did it, with whether there was
// any; callers need not wait for it.
void WarmHeap(size_t bytes, std::function<void(bool warmed)> done = {});

// Grows the process heap to have at least `bytes` free at its top and lets
// the system back that memory with large pages, which the program then
// fills a fault per large page rather than per page. For a short program
// whose work is one burst of allocations: the faults of one process do not
// run side by side on a virtual machine, so bringing pages in on a thread
// beside other start-up work (loading a library) only moves the cost
// there. The same conditions as WarmHeap: call it once, early, with the
// trim threshold above `bytes`. False when the memory is not the heap's (a
// sanitizer's allocator, a size served by mapping) or the system refused.
bool GrowHeapInLargePages(size_t bytes);

}  // namespace qk
