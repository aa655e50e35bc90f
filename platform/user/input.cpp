// Painting, keyboard and pointer input, and the system parameters (see
// user/input.h).
#include "user/input.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "gdi/gdi.h"
#include "gdi/surface.h"
#include "kernel/wstring.h"
#include "user/internal.h"

namespace {
std::mutex g_lock;
BOOL g_keyboardEnabled = TRUE;
std::vector<qk::KeyEvent> g_keyEvents;
bool g_keyDown[256] = {};

bool Inside(const RECT& r, POINT p) { return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom; }

// The deepest visible, enabled child of window that holds the point.
HWND Deepest(HWND window, POINT screen) {
  for (HWND child = GetWindow(window, GW_CHILD) ? GetWindow(GetWindow(window, GW_CHILD), GW_HWNDLAST) : nullptr; child;
       child = GetWindow(child, GW_HWNDPREV)) {
    RECT r;
    if (IsWindowVisible(child) && GetWindowRect(child, &r) && Inside(r, screen)) return Deepest(child, screen);
  }
  return window;
}
}  // namespace

// The paint covers the window's update area (all of the client area when
// nothing was owed): the DC is clipped to it, the windows inside it are
// owed what of them it covers, and WM_ERASEBKGND comes only when an
// invalidation asked for the background to be erased.
HDC BeginPaint(HWND window, LPPAINTSTRUCT paint) {
  if (!paint || !IsWindow(window)) return nullptr;
  std::memset(paint, 0, sizeof *paint);
  qk::user::PaintDebt debt;
  if (!qk::user::TakePaintDebt(window, &debt)) {
    GetClientRect(window, &debt.area);
    debt.erase = true;
  }
  paint->rcPaint = debt.area;
  qk::user::InvalidateChildrenIn(window, debt.area);
  paint->hdc = GetDC(window);
  if (!paint->hdc) return nullptr;
  IntersectClipRect(paint->hdc, debt.area.left, debt.area.top, debt.area.right, debt.area.bottom);
  if (debt.erase)
    paint->fErase = SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(paint->hdc), 0) ? FALSE : TRUE;
  return paint->hdc;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
  if (!paint || !paint->hdc) return FALSE;
  ReleaseDC(window, paint->hdc);
  return TRUE;
}

void keybd_event(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR) {
  bool up = (flags & KEYEVENTF_KEYUP) != 0;
  {
    std::lock_guard<std::mutex> g(g_lock);
    g_keyEvents.push_back({vk, flags, g_keyboardEnabled});
    g_keyDown[vk] = !up;
  }
  HWND target = GetFocus();
  if (!target || !IsWindow(target)) target = GetActiveWindow();
  // A disabled window, or one inside a disabled window, takes no keys.
  if (!target || !IsWindow(target) || !qk::user::TakesInput(target)) return;
  LPARAM lParam = 1 | (static_cast<LPARAM>(scan) << 16) | ((flags & KEYEVENTF_EXTENDEDKEY) ? (1 << 24) : 0);
  if (flags & qk::kKeyEventCharactersApart) lParam |= qk::kKeyMessageCharactersApart;
  if (up) lParam |= (static_cast<LPARAM>(1) << 30) | (static_cast<LPARAM>(1) << 31);
  PostMessageW(target, up ? WM_KEYUP : WM_KEYDOWN, vk, lParam);
}

BOOL EnableHardwareKeyboard(BOOL enable) {
  std::lock_guard<std::mutex> g(g_lock);
  BOOL old = g_keyboardEnabled;
  g_keyboardEnabled = enable;
  return old;
}

SHORT GetKeyState(int vk) {
  std::lock_guard<std::mutex> g(g_lock);
  return (vk >= 0 && vk < 256 && g_keyDown[vk]) ? static_cast<SHORT>(0x8000) : 0;
}

SHORT GetAsyncKeyState(int vk) { return GetKeyState(vk); }

HWND WindowFromPoint(POINT point) {
  // The windows from the top of the screen down (topmost ones first).
  for (HWND top : qk::user::ZOrderedTopLevels()) {
    RECT r;
    if (IsWindowVisible(top) && GetWindowRect(top, &r) && Inside(r, point)) return Deepest(top, point);
  }
  return nullptr;
}

HWND ChildWindowFromPoint(HWND parent, POINT point) {
  POINT screen = point;
  ClientToScreen(parent, &screen);
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT r;
    if (GetWindowRect(child, &r) && Inside(r, screen)) return child;
  }
  RECT r;
  GetClientRect(parent, &r);
  return Inside(r, point) ? parent : nullptr;
}

BOOL SystemParametersInfoW(UINT action, UINT param, PVOID value, UINT) {
  if (action == SPI_GETPLATFORMTYPE) {
    std::u16string type = qk::gdi::GetScreenConfig().platformType;
    if (!value || param <= type.size()) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::memcpy(value, type.c_str(), (type.size() + 1) * sizeof(WCHAR));
    return TRUE;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

namespace qk {

HWND InjectCharacters(const std::u16string& text) {
  HWND target = GetFocus();
  if (!target || !IsWindow(target)) target = GetActiveWindow();
  if (!target || !IsWindow(target) || !qk::user::TakesInput(target)) return nullptr;
  for (char16_t c : text) PostMessageW(target, WM_CHAR, c, 1);
  return target;
}

HWND InjectPointer(UINT message, int x, int y) {
  POINT screen{x, y};
  HWND target = GetCapture();
  if (!target || !IsWindow(target)) target = WindowFromPoint(screen);
  // A point on a disabled window, or on a control of a disabled window (the
  // owner of a modal dialog), reaches nothing.
  if (!target || !qk::user::TakesInput(target)) return nullptr;
  if (message == WM_LBUTTONDOWN) qk::user::ActivateByClick(target);
  POINT client = screen;
  ScreenToClient(target, &client);
  WPARAM keys = message == WM_LBUTTONUP ? 0 : MK_LBUTTON;
  if (message == WM_MOUSEMOVE) {
    std::lock_guard<std::mutex> g(g_lock);
    keys = g_keyDown[1] ? MK_LBUTTON : 0;
  } else {
    std::lock_guard<std::mutex> g(g_lock);
    g_keyDown[1] = message == WM_LBUTTONDOWN;  // VK_LBUTTON
  }
  PostMessageW(target, message, keys, MAKELPARAM(client.x, client.y));
  return target;
}

std::vector<KeyEvent> KeyEvents() {
  std::lock_guard<std::mutex> g(g_lock);
  return g_keyEvents;
}

void ClearKeyEvents() {
  std::lock_guard<std::mutex> g(g_lock);
  g_keyEvents.clear();
}

}  // namespace qk
