// The local heap: malloc blocks with their size kept in front, so that
// LocalSize answers and LocalReAlloc can zero what it adds.
#include "kernel/localmem.h"

#include <cstdlib>
#include <cstring>

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
