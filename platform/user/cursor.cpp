// The program's current cursor: the normal pointer or the wait cursor. One
// for the whole program, as the device has one screen and one pointer; the
// display layer, told of each change through its hook, shows it.
#include <atomic>
#include <mutex>

#include "user/user.h"

namespace {

// The two cursors are objects of the layer: their handles never go stale.
HICON__ g_arrow{0};
HICON__ g_wait{0};

std::atomic<HCURSOR> g_current{nullptr};
std::atomic<qk::CursorHook> g_hook{nullptr};
// Changes are made one at a time, so that the hook sees them in the order
// the current cursor took them.
std::mutex g_change;

}  // namespace

HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name) {
  if (instance || !IS_INTRESOURCE(name)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  if (name == IDC_ARROW) return &g_arrow;
  if (name == IDC_WAIT) return &g_wait;
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return nullptr;
}

HCURSOR SetCursor(HCURSOR cursor) {
  std::lock_guard<std::mutex> lock(g_change);
  HCURSOR previous = g_current.exchange(cursor);
  if (previous != cursor) {
    if (qk::CursorHook hook = g_hook.load()) hook(cursor);
  }
  return previous;
}

HCURSOR GetCursor() { return g_current.load(); }

namespace qk {

bool WaitCursorShown() { return g_current.load() == &g_wait; }

void SetCursorHook(CursorHook hook) { g_hook = hook; }

}  // namespace qk
