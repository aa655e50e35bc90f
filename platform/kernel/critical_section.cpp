#include <atomic>
#include <mutex>

#include "kernel/sync.h"

void InitializeCriticalSection(LPCRITICAL_SECTION cs) { cs->impl = new std::recursive_mutex; }

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  delete static_cast<std::recursive_mutex*>(cs->impl);
  cs->impl = nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) { static_cast<std::recursive_mutex*>(cs->impl)->lock(); }

void LeaveCriticalSection(LPCRITICAL_SECTION cs) { static_cast<std::recursive_mutex*>(cs->impl)->unlock(); }

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
  return static_cast<std::recursive_mutex*>(cs->impl)->try_lock() ? TRUE : FALSE;
}

LONG InterlockedIncrement(LONG volatile* value) { return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedDecrement(LONG volatile* value) { return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedExchange(LONG volatile* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}
