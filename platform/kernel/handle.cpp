#include "kernel/handle.h"

#include <mutex>
#include <unordered_map>

namespace qk {

namespace {
struct HandleTable {
  std::mutex lock;
  std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
  uintptr_t next = 0x10000;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // lives to the very end of the process
  return *table;
}
}  // namespace

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> g(t.lock);
  uintptr_t value = t.next;
  t.next += 4;
  t.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> g(t.lock);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == t.objects.end() ? nullptr : it->second;
}

bool ReleaseHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> released;  // destroyed outside the table lock
  HandleTable& t = Table();
  std::lock_guard<std::mutex> g(t.lock);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == t.objects.end()) return false;
  released = std::move(it->second);
  t.objects.erase(it);
  return true;
}

}  // namespace qk

BOOL CloseHandle(HANDLE handle) {
  if (qk::ReleaseHandle(handle)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

namespace {
thread_local DWORD g_lastError = 0;
}

DWORD GetLastError() { return g_lastError; }
void SetLastError(DWORD code) { g_lastError = code; }
