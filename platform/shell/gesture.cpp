// Tap-and-hold recognition (see aygshell.h).
#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "gdi/surface.h"
#include "kernel/time.h"
#include "shell/aygshell.h"
#include "user/idle.h"
#include "user/input.h"

namespace {
std::function<void()>& WaitHook() {
  static std::function<void()> hook;
  return hook;
}
}  // namespace

namespace qk::shell {
// Called at every step of the wait for a hold (tests move the clock on).
void SetGestureWaitHook(std::function<void()> hook) { WaitHook() = std::move(hook); }
}  // namespace qk::shell

DWORD SHRecognizeGesture(SHRGINFO* info) {
  if (!info || !info->hwndClient || !IsWindow(info->hwndClient)) return 0;
  HWND window = info->hwndClient;
  const DWORD hold = qk::shell::kHoldMs * ((info->dwFlags & SHRG_LONGDELAY) ? 2 : 1);
  const int slop = qk::shell::kHoldSlop * qk::gdi::ScreenDpi() / 96;
  const DWORD start = GetTickCount();
  // A running clock ends the wait within a bound of host time however it
  // behaves. A frozen clock belongs to a test, which moves it on or lifts
  // the stylus: host time, which a loaded machine stretches, does not
  // decide whether a hold was long enough.
  const bool frozen = qk::ClockFrozen();
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(hold * 4 + 2000);
  bool held = false;
  for (;;) {
    // Read before the looks below: whatever comes after them ends the wait.
    const uint64_t seen = qk::QueueChanges();
    // The stylus lifted (a release is queued or already happened): a tap.
    if (!(GetAsyncKeyState(0x01 /* VK_LBUTTON */) & 0x8000)) return 0;
    MSG msg;
    if (PeekMessageW(&msg, window, WM_LBUTTONUP, WM_LBUTTONUP, PM_NOREMOVE)) return 0;
    if (PeekMessageW(&msg, window, WM_MOUSEMOVE, WM_MOUSEMOVE, PM_NOREMOVE)) {
      int x = static_cast<short>(LOWORD(msg.lParam)), y = static_cast<short>(HIWORD(msg.lParam));
      if (std::abs(x - info->ptDown.x) > slop || std::abs(y - info->ptDown.y) > slop) return 0;
      PeekMessageW(&msg, window, WM_MOUSEMOVE, WM_MOUSEMOVE, PM_REMOVE);  // a small move is part of the hold
    }
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= hold) {
      held = true;
      break;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!frozen && now > giveUp) return 0;
    if (WaitHook()) {
      WaitHook()();
    } else {
      // Nothing is dispatched meanwhile (the press's window must not see its
      // release inside its press); messages sent by other threads are
      // handled by the peek. The thread then sleeps until something comes
      // to its queue (the release, a move, a sent message, a move of a
      // frozen clock) or the hold time is up.
      PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
      // The release may still wait on the display's connection: the idle
      // hook takes the window's input into the queue, as the message wait
      // would, and says how long the thread may sleep before it looks again.
      DWORD wait = qk::RunIdleHook();
      if (!frozen) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - now).count() + 1;
        wait = std::min<DWORD>({wait, hold - elapsed, static_cast<DWORD>(left)});
      }
      qk::WaitForQueueChange(seen, wait);
    }
  }
  if (!held) return 0;
  POINT screen = info->ptDown;
  ClientToScreen(window, &screen);
  if (info->dwFlags & SHRG_RETURNCMD) return GN_CONTEXTMENU;
  if (info->dwFlags & SHRG_NOTIFYPARENT) {
    HWND parent = GetParent(window);
    NMRGINFO nm{};
    nm.hdr.hwndFrom = window;
    nm.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(window));
    nm.hdr.code = static_cast<UINT>(NM_RECOGNIZEGESTURE);
    nm.ptAction = screen;
    nm.dwItemSpec = GN_CONTEXTMENU;
    if (parent) SendMessageW(parent, WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm));
    return GN_CONTEXTMENU;
  }
  SendMessageW(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window), MAKELPARAM(screen.x, screen.y));
  return GN_CONTEXTMENU;
}
