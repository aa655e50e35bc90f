// Kernel objects behind HANDLE values. Every object (file, find, event,
// mutex, thread, process, registry key, mapping...) derives from
// KernelObject and is reached through the handle table, so that a handle
// closed on one thread can never be used after free on another: lookups
// return shared ownership.
#pragma once

#include <memory>

#include "kernel/types.h"

namespace qk {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
};

// Registers an object and returns its new handle (never null or
// INVALID_HANDLE_VALUE).
HANDLE RegisterHandle(std::shared_ptr<KernelObject> object);
// The object of a handle, or null for an unknown or closed handle.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}
// Removes the handle; false when it was not open.
bool ReleaseHandle(HANDLE handle);

}  // namespace qk

BOOL CloseHandle(HANDLE handle);
