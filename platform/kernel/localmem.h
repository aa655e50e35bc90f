// The local heap of the platform: blocks owned by whoever the caller hands
// them to, freed with LocalFree.
#pragma once

#include "kernel/types.h"

#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalReAlloc(HLOCAL block, SIZE_T bytes, UINT flags);
HLOCAL LocalFree(HLOCAL block);  // null on success
SIZE_T LocalSize(HLOCAL block);
