#include "quillet/reading/full_screen_reading.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>

#include "quillet/refresh/refresh_state.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "quillet/ui/html_host_dialog.h"
#include "quillet/ui/touch_image.h"

namespace {

constexpr size_t kMaxStroke = 64;

struct GestureState {
  HWND window = nullptr;
  WNDPROC oldProc = nullptr;
  // The stroke: the direction letters since the press, the last kept
  // kMaxStroke of them, and where the last one was recorded.
  char16_t ring[kMaxStroke] = {};
  size_t letters = 0;
  POINT last = {0, 0};
  bool dragging = false;
  bool scrolling = false;
  // The last three y values of the drag (oldest first) and their ticks.
  int ys[3] = {0, 0, 0};
  DWORD ticks[3] = {0, 0, 0};
  int velocity = 0;
  int bounce = 0;
  bool cornerTap = false;
  CTouchImage* corner = nullptr;
};

std::mutex g_lock;
GestureState g;

void ClearGesture() {
  g.letters = 0;
  g.last = {0, 0};
  g.dragging = g.scrolling = false;
  for (int i = 0; i < 3; ++i) g.ys[i] = 0, g.ticks[i] = 0;
  g.velocity = 0;
  g.bounce = 0;
  g.cornerTap = false;
}

int ScreenWidth() { return ::GetSystemMetrics(SM_CXSCREEN); }
int ScreenHeight() { return ::GetSystemMetrics(SM_CYSCREEN); }

bool FullScreenOn() { return ReadSettingInt(u"Settings", u"FullScreenReading", GetTouchFlag() ? 1 : 0) != 0; }

// One screenful of the page.
int PageHeight() {
  const bool on = FullScreenOn();
  const int scrollBar = ::GetSystemMetrics(SM_CYHSCROLL);
  if (GetTouchFlag()) return ScreenHeight() + Dy(2) - scrollBar - (on ? 0 : Dy(66));
  return ScreenHeight() - scrollBar - Dy(on ? 26 : 52);
}

// Where the page's bottom rests when it shows its end.
int BottomLine() { return ScreenHeight() + Dy(2) - (FullScreenOn() ? 0 : Dy(66)); }

HWND Control(HWND inner) { return ::GetParent(inner); }
HWND Host(HWND inner) { return Control(inner) ? ::GetParent(Control(inner)) : nullptr; }
HWND View(HWND inner) { return Host(inner) ? ::GetParent(Host(inner)) : nullptr; }

// The control's rectangle in its parent's client co-ordinates.
RECT ControlRect(HWND inner) {
  RECT r{};
  HWND control = Control(inner), host = Host(inner);
  if (!control || !host) return r;
  ::GetWindowRect(control, &r);
  POINT tl{r.left, r.top}, br{r.right, r.bottom};
  ::ScreenToClient(host, &tl);
  ::ScreenToClient(host, &br);
  return {tl.x, tl.y, br.x, br.y};
}

// The highest top the page may rest at (its first line at the top), and
// the lowest (its last line at the bottom line; the top for a page shorter
// than the screen).
int LowestTop(const RECT& r) { return std::min(0, BottomLine() - (r.bottom - r.top)); }

void PlaceControl(HWND inner, int top, int height) {
  ::MoveWindow(Control(inner), -Dx(1), top, ScreenWidth() + Dx(2), height, TRUE);
}

// A point of the inner window in the control's parent's co-ordinates (the
// inner window moves with the page; the parent stays).
POINT ParentPoint(HWND inner, LPARAM lParam) {
  POINT p{short(LOWORD(lParam)), short(HIWORD(lParam))};
  ::ClientToScreen(inner, &p);
  if (HWND host = Host(inner)) ::ScreenToClient(host, &p);
  return p;
}

CTouchImage* Corner() {
  if (!g.corner) {
    g.corner = new CTouchImage();
    g.corner->LoadFromResource(nullptr, ImageIdAt192(IDR_PNG_READING_CORNER, IDR_PNG_READING_CORNER_192));
  }
  return g.corner;
}

bool InCornerZone(POINT p) {
  if (!FullScreenOn()) return false;
  CTouchImage* image = Corner();
  if (!image->HasImageHandle()) return false;
  return p.x > ScreenWidth() - image->GetWidth() * 3 / 2 && p.y > ScreenHeight() - image->GetHeight() * 3 / 2;
}

// Draws the corner tab at the bottom right of the screen, where the page
// covers it.
void DrawCorner(HWND inner) {
  if (g.scrolling || !FullScreenOn()) return;
  CTouchImage* image = Corner();
  if (!image->HasImageHandle()) return;
  RECT shown{};
  ::GetWindowRect(inner, &shown);
  const int x = ScreenWidth() - image->GetWidth(), y = ScreenHeight() - image->GetHeight();
  if (x < shown.left || y < shown.top || ScreenWidth() > shown.right || ScreenHeight() > shown.bottom) return;
  POINT at{x, y};
  ::ScreenToClient(inner, &at);
  HDC hdc = ::GetDC(inner);
  image->Draw(hdc, at.x, at.y);
  ::ReleaseDC(inner, hdc);
}

void MoveReadingView(HWND inner, int dy) {
  if (std::abs(dy) > PageHeight() + Dy(2)) return;
  HWND host = Host(inner);
  if (!host) return;
  RECT r = ControlRect(inner);
  ::OffsetRect(&r, 0, dy);
  // Nothing old shows in the strip the page uncovers.
  RECT client{};
  ::GetClientRect(host, &client);
  HDC hdc = ::GetDC(host);
  HBRUSH brush = ::CreateSolidBrush(::GetSysColor(COLOR_WINDOW));
  if (r.top > client.top) {
    RECT strip{client.left, client.top, client.right, std::min(r.top, client.bottom)};
    ::FillRect(hdc, &strip, brush);
  }
  if (r.bottom < client.bottom) {
    RECT strip{client.left, std::max(r.bottom, client.top), client.right, client.bottom};
    ::FillRect(hdc, &strip, brush);
  }
  ::DeleteObject(brush);
  ::ReleaseDC(host, hdc);
  PlaceControl(inner, r.top, r.bottom - r.top);
}

void StopScrolling(HWND inner) {
  ::KillTimer(inner, FULL_SCREEN_TIMER_MOMENTUM);
  ::KillTimer(inner, FULL_SCREEN_TIMER_BOUNCE);
  g.velocity = 0;
  const bool was = g.scrolling;
  g.scrolling = false;
  if (was) DrawCorner(inner);
}

void EndScrolling(HWND inner) {
  g.scrolling = false;
  DrawCorner(inner);
}

// TRUE when the page lies out of its bounds (a gap above its first line or
// below its last); with bounce it then starts coming back.
bool CheckReadingBounds(HWND inner, bool bounce) {
  const RECT r = ControlRect(inner);
  if (r.top < 1 && r.top >= LowestTop(r)) return false;
  if (bounce) {
    g.bounce = 3;
    ::SetTimer(inner, FULL_SCREEN_TIMER_BOUNCE, 50, nullptr);
  } else {
    ::KillTimer(inner, FULL_SCREEN_TIMER_BOUNCE);
  }
  return true;
}

void OnMomentum(HWND inner) {
  const int speed = std::abs(g.velocity);
  const double factor = speed <= 40 ? 0.94 : speed <= 100 ? 0.9 : speed <= 200 ? 0.8 : 0.7;
  g.velocity = static_cast<int>(g.velocity * factor);
  MoveReadingView(inner, g.velocity);
  if (CheckReadingBounds(inner, true)) {
    // The bounce takes over.
    ::KillTimer(inner, FULL_SCREEN_TIMER_MOMENTUM);
    g.velocity = 0;
    return;
  }
  if (std::abs(g.velocity) >= 2) return;
  ::KillTimer(inner, FULL_SCREEN_TIMER_MOMENTUM);
  g.velocity = 0;
  EndScrolling(inner);
}

void OnBounce(HWND inner) {
  const RECT r = ControlRect(inner);
  const int lowest = LowestTop(r);
  const int distance = r.top > 0 ? -r.top : r.top < lowest ? lowest - r.top : 0;
  static const double kShare[] = {1.0, 0.02, 0.2, 0.5};
  const int step = g.bounce <= 0 ? distance : static_cast<int>(distance * kShare[std::min(g.bounce, 3)]);
  if (step) MoveReadingView(inner, step);
  if (g.bounce <= 0) {
    ::KillTimer(inner, FULL_SCREEN_TIMER_BOUNCE);
    EndScrolling(inner);
  }
  --g.bounce;
}

// Records a direction letter when the point lies far enough from the last
// one recorded.
char16_t RecordLetter(POINT p) {
  const int dx = p.x - g.last.x, dy = p.y - g.last.y;
  if (dx * dx + dy * dy <= 64 * GetScreenDpiY() / 96) return 0;
  g.last = p;
  char16_t letter = 0;
  if (std::abs(dx) > std::abs(dy)) letter = dx > 0 ? u'R' : u'L';
  else if (std::abs(dy) > std::abs(dx)) letter = dy > 0 ? u'D' : u'U';
  if (letter) g.ring[g.letters++ % kMaxStroke] = letter;
  return letter;
}

// The stroke's letters (at most kMaxStroke, the last ones).
std::u16string Stroke() {
  std::u16string out;
  const size_t n = std::min(g.letters, kMaxStroke);
  for (size_t i = g.letters - n; i < g.letters; ++i) out += g.ring[i % kMaxStroke];
  return out;
}

void SendNavKey(HWND inner, WPARAM key) {
  if (HWND view = View(inner)) ::SendMessageW(view, WM_HTMLHOST_NAVKEY, key, 0);
}

void OnPress(HWND inner, POINT p) {
  g.dragging = true;
  for (int i = 0; i < 3; ++i) g.ys[i] = p.y, g.ticks[i] = ::GetTickCount();
  if (g.scrolling) StopScrolling(inner);
  // The stroke starts here.
  g.letters = 0;
  g.last = p;
  g.cornerTap = InCornerZone(p);
  ::SetCapture(inner);
}

void OnMove(HWND inner, POINT p) {
  if (!g.dragging) return;
  const char16_t letter = RecordLetter(p);
  if (letter != u'U' && letter != u'D') return;
  if (!g.scrolling) {
    if (std::abs(p.y - g.ys[2]) < Dy(4)) return;
    g.scrolling = true;
  }
  const int dy = p.y - g.ys[2];
  g.ys[0] = g.ys[1], g.ticks[0] = g.ticks[1];
  g.ys[1] = g.ys[2], g.ticks[1] = g.ticks[2];
  g.ys[2] = p.y, g.ticks[2] = ::GetTickCount();
  MoveReadingView(inner, dy);
}

// The release; true when the stroke was a tap (it did not move).
bool OnRelease(HWND inner, POINT p) {
  if (::GetCapture() == inner) ::ReleaseCapture();
  if (g.dragging) RecordLetter(p);
  const std::u16string stroke = Stroke();
  g.letters = 0;
  const bool wasDragging = g.dragging;
  g.dragging = false;
  // A swipe: an empty stroke (a tap) is none.
  if (!stroke.empty()) {
    const size_t left = std::count(stroke.begin(), stroke.end(), u'L');
    const size_t right = std::count(stroke.begin(), stroke.end(), u'R');
    WPARAM turn = 0;
    if (left * 10 >= stroke.size() * 7) turn = VK_RIGHT;
    else if (right * 10 >= stroke.size() * 7) turn = VK_LEFT;
    if (turn) {
      // The page turns: this one stops where it is.
      StopScrolling(inner);
      g.cornerTap = false;
      SendNavKey(inner, turn);
      return false;
    }
  }
  if (g.cornerTap && stroke.empty() && InCornerZone(p)) {
    g.cornerTap = false;
    SendNavKey(inner, VK_HOME);
    return false;
  }
  g.cornerTap = false;
  if (wasDragging && g.scrolling) {
    const int d = p.y - g.ys[0];
    const long elapsed = static_cast<long>(g.ticks[2] - g.ticks[0]);
    if (std::abs(d) > 6 && elapsed > 0) {
      g.velocity = static_cast<int>(d * 45.0 / static_cast<double>(elapsed));
      ::SetTimer(inner, FULL_SCREEN_TIMER_MOMENTUM, 70, nullptr);
    } else if (!CheckReadingBounds(inner, true)) {
      // No momentum: a slow release, or moves that all fell in one tick.
      EndScrolling(inner);
    }
  }
  return stroke.empty();
}

void OnPageKey(HWND inner, WPARAM key) {
  RECT r = ControlRect(inner);
  const int height = r.bottom - r.top;
  ::OffsetRect(&r, 0, key == VK_UP ? PageHeight() : -PageHeight());
  // The end of a long page rests on the bottom line; then the top is held
  // at the first line, so a short page shows from its start.
  const int line = BottomLine();
  if (r.bottom <= line) ::OffsetRect(&r, 0, line - r.bottom);
  if (r.top > 0) ::OffsetRect(&r, 0, -r.top);
  PlaceControl(inner, r.top, height);
  ::InvalidateRect(inner, nullptr, TRUE);
}

}  // namespace

BOOL EnterFullScreenReading(HWND window) {
  std::lock_guard<std::mutex> hold(g_lock);
  ClearGesture();
  if (!window || g.window || !::IsWindow(window)) return FALSE;
  ::ShowWindow(window, SW_SHOW);
  g.window = window;
  g.oldProc = reinterpret_cast<WNDPROC>(::GetWindowLongW(window, GWL_WNDPROC));
  ::SetWindowLongW(window, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&FullScreenReadingWndProc));
  return TRUE;
}

void LeaveFullScreenReading(HWND window) {
  std::lock_guard<std::mutex> hold(g_lock);
  if (!window || window != g.window) return;
  ::KillTimer(window, FULL_SCREEN_TIMER_MOMENTUM);
  ::KillTimer(window, FULL_SCREEN_TIMER_BOUNCE);
  if (::GetCapture() == window) ::ReleaseCapture();
  ::ShowWindow(window, SW_HIDE);
  ::SetWindowLongW(window, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(g.oldProc));
  g.window = nullptr;
  g.oldProc = nullptr;
  ClearGesture();
}

LRESULT CALLBACK FullScreenReadingWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const WNDPROC old = g.oldProc;
  if (window != g.window || !old) return ::DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_MOUSEMOVE:
      OnMove(window, ParentPoint(window, lParam));
      return 1;
    case WM_TIMER:
      if (wParam == FULL_SCREEN_TIMER_MOMENTUM) {
        OnMomentum(window);
        return 1;
      }
      if (wParam == FULL_SCREEN_TIMER_BOUNCE) {
        OnBounce(window);
        return 1;
      }
      break;
    case WM_LBUTTONDOWN:
      OnPress(window, ParentPoint(window, lParam));
      break;
    case WM_LBUTTONUP:
      // A stroke that moved reaches the viewer off its page: it follows no
      // link.
      if (!OnRelease(window, ParentPoint(window, lParam))) lParam = MAKELPARAM(0x8000, 0x8000);
      break;
    case WM_KEYDOWN:
      if (wParam == VK_LEFT || wParam == VK_RIGHT) {
        g.scrolling = false;
        SendNavKey(window, wParam);
      } else if (wParam == VK_UP || wParam == VK_DOWN) {
        OnPageKey(window, wParam);
      }
      break;
    case WM_PAINT: {
      const LRESULT result = ::CallWindowProcW(old, window, message, wParam, lParam);
      DrawCorner(window);
      return result;
    }
    case WM_NCDESTROY: {
      // Destroyed while subclassed: nothing is left pointing at it.
      const LRESULT result = ::CallWindowProcW(old, window, message, wParam, lParam);
      g.window = nullptr;
      g.oldProc = nullptr;
      ClearGesture();
      return result;
    }
    default:
      break;
  }
  return ::CallWindowProcW(old, window, message, wParam, lParam);
}
