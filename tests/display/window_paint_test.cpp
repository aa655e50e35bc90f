// Painting on the device screen as windows come and go: what a hidden or
// destroyed window covered is painted again, a window's painting stays off
// the windows above it (top-level and sibling), the scroll bar metrics
// follow the screen's density, and a frozen clock's advance wakes a thread
// that waits for its timer.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "display/display.h"
#include "gdi/surface.h"
#include "kernel/kernel.h"
#include "shell/aygshell.h"
#include "support/device_fixture.h"
#include "user/input.h"
#include "user/menu.h"
#include "user/user.h"

namespace {

COLORREF ColourOf(HWND hwnd) { return static_cast<COLORREF>(GetWindowLongW(hwnd, GWL_USERDATA)); }

// The WM_PAINT messages each window was given, the last command and the
// keys that reached a window.
std::map<HWND, int> g_painted;
UINT g_command = 0;
int g_keys = 0;

LRESULT CALLBACK SolidProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COMMAND) g_command = LOWORD(wParam);
  if (msg == WM_KEYDOWN) ++g_keys;
  if (msg != WM_PAINT) return DefWindowProcW(hwnd, msg, wParam, lParam);
  ++g_painted[hwnd];
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT r;
  GetClientRect(hwnd, &r);
  HBRUSH brush = CreateSolidBrush(ColourOf(hwnd));
  FillRect(dc, &r, brush);
  DeleteObject(brush);
  EndPaint(hwnd, &ps);
  return 0;
}

class WindowPaint : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    g_painted.clear();
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qk::display::ConnectScreen();
    WNDCLASSW wc{};
    wc.lpfnWndProc = SolidProc;
    wc.lpszClassName = u"SolidWindow";
    RegisterClassW(&wc);
  }
  void TearDown() override {
    for (HWND w : made_)
      if (IsWindow(w)) DestroyWindow(w);
    qk::PumpMessages();
    qk::UseRealClock();
    DeviceTest::TearDown();
  }
  HWND Make(COLORREF colour, int x, int y, int w, int h, HWND parent = nullptr, DWORD style = WS_POPUP) {
    HWND hwnd = CreateWindowExW(0, u"SolidWindow", u"", style | (parent ? WS_CHILD : 0), x, y, w, h, parent,
                                nullptr, nullptr, nullptr);
    SetWindowLongW(hwnd, GWL_USERDATA, static_cast<LONG>(colour));
    ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    made_.push_back(hwnd);
    return hwnd;
  }
  static COLORREF At(int x, int y) { return qk::gdi::ScreenSurface()->Get(x, y); }
  std::vector<HWND> made_;
};

constexpr COLORREF kRed = RGB(200, 0, 0), kBlue = RGB(0, 0, 200), kGreen = RGB(0, 160, 0),
                   kYellow = RGB(230, 230, 0);

TEST_F(WindowPaint, WindowsBeneathRepaintAndPaintingStaysUnderWindowsAbove) {
  HWND below = Make(kRed, 0, 0, 200, 200);
  HWND popup = Make(kBlue, 50, 50, 100, 100);
  qk::PumpMessages();
  EXPECT_EQ(At(10, 10), kRed);
  EXPECT_EQ(At(100, 100), kBlue);

  // The window beneath paints again: the popup above keeps its pixels.
  InvalidateRect(below, nullptr, TRUE);
  qk::PumpMessages();
  EXPECT_EQ(At(100, 100), kBlue);
  EXPECT_EQ(At(49, 100), kRed);
  // Drawing outside a paint is kept off the popup too.
  HDC dc = GetDC(below);
  HBRUSH green = CreateSolidBrush(kGreen);
  RECT all{0, 0, 200, 200};
  FillRect(dc, &all, green);
  ReleaseDC(below, dc);
  DeleteObject(green);
  EXPECT_EQ(At(100, 100), kBlue);
  EXPECT_EQ(At(10, 10), kGreen);

  // Hidden, then shown and destroyed: what it covered is painted again.
  ShowWindow(popup, SW_HIDE);
  qk::PumpMessages();
  EXPECT_EQ(At(100, 100), kRed);
  EXPECT_EQ(At(10, 10), kRed);
  ShowWindow(popup, SW_SHOWNOACTIVATE);
  qk::PumpMessages();
  EXPECT_EQ(At(100, 100), kBlue);
  DestroyWindow(popup);
  qk::PumpMessages();
  EXPECT_EQ(At(100, 100), kRed);
}

TEST_F(WindowPaint, SiblingsAboveClipAndAHiddenChildUncoversItsParent) {
  HWND parent = Make(kRed, 0, 0, 300, 300);
  HWND first = Make(kGreen, 0, 0, 100, 100, parent, WS_VISIBLE);
  HWND second = Make(kYellow, 50, 50, 100, 100, parent, WS_VISIBLE);  // later: above the first
  qk::PumpMessages();
  EXPECT_EQ(At(75, 75), kYellow);
  InvalidateRect(first, nullptr, TRUE);
  qk::PumpMessages();
  EXPECT_EQ(At(75, 75), kYellow);
  EXPECT_EQ(At(25, 25), kGreen);

  ShowWindow(second, SW_HIDE);
  qk::PumpMessages();
  EXPECT_EQ(At(75, 75), kGreen);  // the first child, painted again over its parent
  EXPECT_EQ(At(120, 120), kRed);  // the parent where nothing else is
}

TEST_F(WindowPaint, ScrollBarMetricsFollowTheDensity) {
  EXPECT_EQ(GetSystemMetrics(SM_CXVSCROLL), 26);
  EXPECT_EQ(GetSystemMetrics(SM_CYHSCROLL), 26);
  qk::gdi::SetScreenConfig(qk::gdi::KeyDeviceScreenConfig());
  EXPECT_EQ(GetSystemMetrics(SM_CXVSCROLL), 13);
  EXPECT_EQ(GetSystemMetrics(SM_CYHSCROLL), 13);
  qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
}

// Moving or shrinking a window shows again what it uncovered, at the top
// level and inside a parent; growing in place leaves the rest alone.
TEST_F(WindowPaint, WhatAMovedOrShrunkWindowLeftIsPaintedAgain) {
  HWND below = Make(kRed, 0, 0, 300, 300);
  HWND popup = Make(kBlue, 50, 50, 100, 100);
  qk::PumpMessages();
  ASSERT_EQ(At(60, 60), kBlue);

  MoveWindow(popup, 160, 160, 100, 100, TRUE);
  qk::PumpMessages();
  EXPECT_EQ(At(60, 60), kRed);  // the old place
  EXPECT_EQ(At(170, 170), kBlue);
  SetWindowPos(popup, nullptr, 0, 0, 20, 20, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  qk::PumpMessages();
  EXPECT_EQ(At(170, 170), kBlue);
  EXPECT_EQ(At(200, 200), kRed);  // given back by the shrink
  EXPECT_EQ(At(250, 250), kRed);

  // A child moved inside its parent: its old place shows the parent, and
  // a sibling it covered paints again over the parent.
  HWND sibling = Make(kYellow, 10, 10, 40, 40, below, WS_VISIBLE);
  HWND child = Make(kGreen, 20, 20, 60, 60, below, WS_VISIBLE);
  qk::PumpMessages();
  ASSERT_EQ(At(30, 30), kGreen);
  SetWindowPos(child, nullptr, 100, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  qk::PumpMessages();
  EXPECT_EQ(At(30, 30), kYellow);
  EXPECT_EQ(At(70, 70), kRed);
  EXPECT_EQ(At(110, 30), kGreen);
  (void)sibling;
}

// A hidden window, or a window inside a hidden one, is never painted: its
// paint debt waits until it shows, and even drawing on its DC puts nothing
// on the screen. Showing it paints it with the windows inside it.
TEST_F(WindowPaint, AHiddenWindowIsNeverPainted) {
  HWND below = Make(kRed, 0, 0, 300, 300);
  HWND page = Make(kBlue, 0, 0, 200, 200, below, WS_VISIBLE);
  HWND field = Make(kGreen, 20, 20, 50, 50, page, WS_VISIBLE);
  qk::PumpMessages();
  ASSERT_EQ(At(30, 30), kGreen);
  ShowWindow(page, SW_HIDE);
  qk::PumpMessages();
  ASSERT_EQ(At(30, 30), kRed);
  g_painted.clear();

  InvalidateRect(page, nullptr, TRUE);
  InvalidateRect(field, nullptr, TRUE);
  UpdateWindow(field);
  qk::PumpMessages();
  EXPECT_EQ(g_painted[page], 0);
  EXPECT_EQ(g_painted[field], 0);
  EXPECT_EQ(At(30, 30), kRed);
  EXPECT_EQ(At(100, 100), kRed);
  // Straight onto its DC, or a paint sent by hand: nothing shows.
  SendMessageW(page, WM_PAINT, 0, 0);
  HDC dc = GetDC(field);
  HBRUSH yellow = CreateSolidBrush(kYellow);
  RECT all{0, 0, 50, 50};
  FillRect(dc, &all, yellow);
  ReleaseDC(field, dc);
  DeleteObject(yellow);
  EXPECT_EQ(At(30, 30), kRed);
  EXPECT_EQ(At(100, 100), kRed);

  ShowWindow(page, SW_SHOWNOACTIVATE);
  qk::PumpMessages();
  EXPECT_EQ(At(100, 100), kBlue);
  EXPECT_EQ(At(30, 30), kGreen);  // the field inside, painted after the page
  EXPECT_GE(g_painted[field], 1);
}

// A window that cannot be seen now is not painted: minimised (shown
// minimised or not), or covered where it is owed. What it is owed is kept
// and merged, and it is painted once when it shows. A paint covers only the
// update area: the rest of the window and the windows inside it outside
// that area keep their pixels.
TEST_F(WindowPaint, WhatCannotBeSeenWaitsAndIsPaintedOnceAndOnlyWhereOwed) {
  HWND frame = Make(kRed, 0, 0, 300, 300);
  HWND child = Make(kGreen, 20, 20, 100, 100, frame, WS_VISIBLE);
  qk::PumpMessages();
  for (int how : {SW_MINIMIZE, SW_SHOWMINIMIZED}) {
    ShowWindow(frame, how);
    qk::PumpMessages();
    g_painted.clear();
    InvalidateRect(child, nullptr, TRUE);
    UpdateWindow(child);
    InvalidateRect(frame, nullptr, TRUE);
    qk::PumpMessages();
    EXPECT_EQ(g_painted[frame], 0) << how;
    EXPECT_EQ(g_painted[child], 0) << how;
    ShowWindow(frame, SW_RESTORE);
    qk::PumpMessages();
    EXPECT_EQ(g_painted[frame], 1) << how;
    EXPECT_EQ(g_painted[child], 1) << how;
    EXPECT_EQ(At(150, 150), kRed) << how;
    EXPECT_EQ(At(30, 30), kGreen) << how;
  }

  // Covered all over: two invalidations merge and wait.
  HWND cover = Make(kBlue, 0, 0, 300, 300);
  qk::PumpMessages();
  g_painted.clear();
  RECT first{150, 150, 200, 200}, second{180, 160, 250, 220};
  InvalidateRect(frame, &first, FALSE);
  UpdateWindow(frame);
  InvalidateRect(frame, &second, FALSE);
  qk::PumpMessages();
  EXPECT_EQ(g_painted[frame], 0);
  RECT owed{};
  ASSERT_TRUE(GetUpdateRect(frame, &owed, FALSE));
  EXPECT_EQ(owed.left, 150);
  EXPECT_EQ(owed.top, 150);
  EXPECT_EQ(owed.right, 250);
  EXPECT_EQ(owed.bottom, 220);
  DestroyWindow(cover);
  qk::PumpMessages();
  EXPECT_EQ(g_painted[frame], 1);
  EXPECT_EQ(g_painted[child], 1);  // beneath the cover, painted after the frame

  // Only the update area is painted: the frame paints yellow there and
  // keeps red elsewhere; the child, outside the area, is not painted.
  g_painted.clear();
  SetWindowLongW(frame, GWL_USERDATA, static_cast<LONG>(kYellow));
  InvalidateRect(frame, &first, FALSE);
  qk::PumpMessages();
  EXPECT_EQ(g_painted[frame], 1);
  EXPECT_EQ(g_painted[child], 0);
  EXPECT_EQ(At(160, 160), kYellow);
  EXPECT_EQ(At(260, 260), kRed);
  EXPECT_EQ(At(30, 30), kGreen);
}

// A soft key's menu takes the keys while it is open, and none reaches the
// window beneath: Up and Down move the highlight, Right opens a submenu and
// Left leaves it, Enter chooses, Escape closes without a command; what the
// menu covered shows again once it closes.
TEST_F(WindowPaint, ASoftKeyMenuIsWorkedByKeys) {
  HWND screen = Make(kRed, 0, 0, 480, 800);
  ShowWindow(screen, SW_SHOW);
  SetFocus(screen);
  HMENU bar = CreateMenu(), popup = CreatePopupMenu(), sub = CreatePopupMenu();
  AppendMenuW(sub, MF_STRING, 301, u"Deep");
  AppendMenuW(popup, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), u"More");
  AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(popup, MF_STRING, 201, u"First");
  AppendMenuW(popup, MF_STRING, 202, u"Second");
  AppendMenuW(bar, MF_STRING, 100, u"Done");
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), u"Menu");
  SHMENUBARINFO info{};
  info.cbSize = sizeof info;
  info.hwndParent = screen;
  info.dwFlags = SHCMBF_HMENU;
  info.nToolBarId = static_cast<UINT>(reinterpret_cast<uintptr_t>(bar));
  ASSERT_TRUE(SHCreateMenuBar(&info));
  qk::PumpMessages();
  RECT barRect{};
  GetWindowRect(info.hwndMB, &barRect);
  const int x = 470, y = barRect.top - 20;  // inside the menu when it is open
  ASSERT_EQ(At(x, y), kRed);

  auto run = [&](std::initializer_list<BYTE> keys) {
    g_command = 0;
    g_keys = 0;
    for (BYTE k : keys) {
      keybd_event(k, 0, 0, 0);
      keybd_event(k, 0, KEYEVENTF_KEYUP, 0);
    }
    EXPECT_TRUE(qk::shell::PressSoftKey(2));  // returns when the menu closed
    qk::PumpMessages();
    EXPECT_EQ(g_keys, 0) << "a key went through the menu";
    EXPECT_EQ(At(x, y), kRed) << "the menu is left over";
    return g_command;
  };
  EXPECT_EQ(run({VK_DOWN, VK_RIGHT, VK_DOWN, VK_RETURN}), 301u);
  EXPECT_EQ(run({VK_DOWN, VK_RIGHT, VK_LEFT, VK_UP, VK_RETURN}), 202u);  // round from the top to the last
  EXPECT_EQ(run({VK_DOWN, VK_DOWN, VK_DOWN, VK_UP, VK_RETURN}), 201u);   // the separator is passed over
  EXPECT_EQ(run({VK_DOWN, VK_ESCAPE}), 0u);
  qk::shell::ResetShell();
  DestroyMenu(bar);
}

// A thread waiting in its message loop on a frozen clock wakes when the
// clock is advanced from another thread, and its timer fires then and only
// then.
std::atomic<int> g_fired{0};
LRESULT CALLBACK TimerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER) {
    ++g_fired;
    PostQuitMessage(0);
    return 0;
  }
  if (msg == WM_USER) return g_fired.load() + 100;
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

TEST_F(WindowPaint, AdvancingAFrozenClockWakesTheTimersThread) {
  qk::FreezeClock(1796724000000, 5000);
  g_fired = 0;
  WNDCLASSW wc{};
  wc.lpfnWndProc = TimerProc;
  wc.lpszClassName = u"FrozenTimerWindow";
  RegisterClassW(&wc);
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<HWND> window{nullptr};
  std::thread loop([&] {
    HWND w = CreateWindowExW(0, u"FrozenTimerWindow", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    SetTimer(w, 1, 1000, nullptr);
    window = w;
    SetEvent(ready);
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0)) DispatchMessageW(&m);
    DestroyWindow(w);
  });
  ASSERT_EQ(WaitForSingleObject(ready, 5000), WAIT_OBJECT_0);
  qk::AdvanceClock(999);
  // Two round trips: the loop has looked at its timers after the advance.
  EXPECT_EQ(SendMessageW(window, WM_USER, 0, 0), 100);
  EXPECT_EQ(SendMessageW(window, WM_USER, 0, 0), 100);
  EXPECT_EQ(g_fired.load(), 0);
  qk::AdvanceClock(1);
  loop.join();  // ends after the timer fired: without the wake it would hang
  EXPECT_EQ(g_fired.load(), 1);
  CloseHandle(ready);
}

}  // namespace
