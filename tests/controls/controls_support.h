// A host window for the control tests: it records every WM_COMMAND and
// WM_NOTIFY its controls send, answers owner-draw requests, can refuse
// changes, and drives the controls with synthetic pointer and key input
// through the window layer.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "controls/commctrl.h"
#include "display/display.h"
#include "gdi/surface.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "user/input.h"

namespace ctest {

struct Note {
  UINT message = 0;  // WM_COMMAND, WM_NOTIFY, WM_VSCROLL, WM_HSCROLL, WM_DRAWITEM, WM_MEASUREITEM
  int id = 0;
  UINT code = 0;
  HWND from = nullptr;
  // Copies of the notification's details.
  NMLISTVIEW list{};
  NMITEMACTIVATE activate{};
  NMUPDOWN updown{};
  SYSTEMTIME time{};
  std::u16string text;
  bool textNull = false;
  WPARAM wParam = 0;
  DRAWITEMSTRUCT draw{};
};

struct Host {
  std::vector<Note> notes;
  // Answers for WM_NOTIFY (code -> result), else 0.
  std::function<LRESULT(const NMHDR*)> answer;
  // Called for every WM_COMMAND after it is noted.
  std::function<void(int id, UINT code, HWND from)> command;
  UINT measuredHeight = 0;  // WM_MEASUREITEM answer (0 keeps the control's)
  // Answers for WM_CTLCOLOR* (message, DC, control) -> brush, else none.
  std::function<HBRUSH(UINT, HDC, HWND)> colours;
  std::vector<UINT> colourAsks;
  int measureCount = 0;

  int Count(UINT message, UINT code) const {
    int n = 0;
    for (const Note& x : notes) n += x.message == message && x.code == code;
    return n;
  }
  const Note* Last(UINT message, UINT code) const {
    for (auto it = notes.rbegin(); it != notes.rend(); ++it)
      if (it->message == message && it->code == code) return &*it;
    return nullptr;
  }
  std::vector<Note> All(UINT message, UINT code) const {
    std::vector<Note> out;
    for (const Note& x : notes)
      if (x.message == message && x.code == code) out.push_back(x);
    return out;
  }
};

inline Note MakeNote(UINT message, int id, UINT code, HWND from) {
  Note n;
  n.message = message;
  n.id = id;
  n.code = code;
  n.from = from;
  return n;
}

inline Host*& CurrentHost() {
  static Host* host = nullptr;
  return host;
}

inline LRESULT HostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Host* host = CurrentHost();
  switch (msg) {
    case WM_COMMAND:
      if (host) {
        Note n = MakeNote(WM_COMMAND, LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        host->notes.push_back(n);
        if (host->command) host->command(n.id, n.code, n.from);
      }
      return 0;
    case WM_VSCROLL:
    case WM_HSCROLL:
      if (host) {
        Note n = MakeNote(msg, GetDlgCtrlID(reinterpret_cast<HWND>(lParam)), LOWORD(wParam), reinterpret_cast<HWND>(lParam));
        n.wParam = wParam;
        host->notes.push_back(n);
      }
      return 0;
    case WM_NOTIFY: {
      auto* h = reinterpret_cast<NMHDR*>(lParam);
      if (!host) return 0;
      Note n = MakeNote(WM_NOTIFY, static_cast<int>(h->idFrom), h->code, h->hwndFrom);
      if (h->code == LVN_ITEMCHANGED || h->code == LVN_ITEMCHANGING || h->code == LVN_COLUMNCLICK ||
          h->code == LVN_DELETEITEM || h->code == LVN_DELETEALLITEMS)
        n.list = *reinterpret_cast<NMLISTVIEW*>(lParam);
      if (h->code == NM_CLICK || h->code == NM_DBLCLK) {
        WCHAR cls[32];
        GetClassNameW(h->hwndFrom, cls, 32);
        if (std::u16string(cls) == u"SysListView32") n.activate = *reinterpret_cast<NMITEMACTIVATE*>(lParam);
      }
      if (h->code == UDN_DELTAPOS) n.updown = *reinterpret_cast<NMUPDOWN*>(lParam);
      if (h->code == DTN_DATETIMECHANGE) n.time = reinterpret_cast<NMDATETIMECHANGE*>(lParam)->st;
      if (h->code == LVN_BEGINLABELEDITW || h->code == LVN_ENDLABELEDITW) {
        auto* d = reinterpret_cast<NMLVDISPINFOW*>(lParam);
        n.textNull = d->item.pszText == nullptr;
        if (d->item.pszText) n.text = d->item.pszText;
        n.list.iItem = d->item.iItem;
      }
      host->notes.push_back(n);
      return host->answer ? host->answer(h) : 0;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
      if (host) {
        host->colourAsks.push_back(msg);
        if (host->colours)
          return reinterpret_cast<LRESULT>(host->colours(msg, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
      }
      return 0;
    case WM_MEASUREITEM: {
      auto* m = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      if (host) {
        ++host->measureCount;
        if (host->measuredHeight) m->itemHeight = host->measuredHeight;
      }
      return TRUE;
    }
    case WM_DRAWITEM: {
      auto* d = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      if (host) {
        Note n = MakeNote(WM_DRAWITEM, static_cast<int>(d->CtlID), d->itemID, d->hwndItem);
        n.draw = *d;
        host->notes.push_back(n);
      }
      // A plain owner-drawn row: a band of its own colour, darker when selected.
      HBRUSH b = CreateSolidBrush((d->itemState & ODS_SELECTED) ? RGB(40, 90, 160) : RGB(225, 235, 245));
      FillRect(d->hDC, &d->rcItem, b);
      DeleteObject(b);
      return TRUE;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT r;
      GetClientRect(hwnd, &r);
      FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOW));
      EndPaint(hwnd, &ps);
      return 0;
    }
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

class ControlsTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    InitCommonControls();
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qk::display::ConnectScreen();
    qk::FreezeClock(1796726400000LL, 1000);
    CurrentHost() = &host_;
    window_ = qtest::CreateHostWindow(u"ControlsHost", HostProc, GetSystemMetrics(SM_CXSCREEN),
                                      GetSystemMetrics(SM_CYSCREEN), u"", WS_VISIBLE);
    ASSERT_NE(window_, nullptr);
    SetActiveWindow(window_);
    LOGFONTW lf{};
    lf.lfHeight = -(9 * qk::gdi::ScreenDpi() / 72);
    lf.lfWeight = FW_NORMAL;
    std::u16string face = u"Tahoma";
    std::copy(face.begin(), face.end(), lf.lfFaceName);
    font_ = CreateFontIndirectW(&lf);
  }
  void TearDown() override {
    DestroyWindow(window_);
    qk::PumpMessages();
    CurrentHost() = nullptr;
    DeleteObject(font_);
    for (int vk : {VK_SHIFT, VK_CONTROL})
      if (GetKeyState(vk) & 0x8000) keybd_event(static_cast<BYTE>(vk), 0, KEYEVENTF_KEYUP, 0);
    qk::PumpMessages();
    qk::UseRealClock();
    qtest::DeviceTest::TearDown();
  }

  HWND Make(const char16_t* cls, const char16_t* text, DWORD style, int x, int y, int w, int h, int id,
            DWORD exStyle = 0) {
    HWND c = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, window_,
                             reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
    EXPECT_NE(c, nullptr);
    if (c) SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_), 0);
    return c;
  }

  // Pointer input at a point of a window's client area.
  void Down(HWND w, int x, int y) { Pointer(WM_LBUTTONDOWN, w, x, y); }
  void Move(HWND w, int x, int y) { Pointer(WM_MOUSEMOVE, w, x, y); }
  void Up(HWND w, int x, int y) { Pointer(WM_LBUTTONUP, w, x, y); }
  void Tap(HWND w, int x, int y) {
    Down(w, x, y);
    Up(w, x, y);
  }
  void Pointer(UINT msg, HWND w, int x, int y) {
    POINT p{x, y};
    ClientToScreen(w, &p);
    qk::InjectPointer(msg, p.x, p.y);
    qk::PumpMessages();
  }
  // A key pressed and released on the window with the focus.
  void Key(BYTE vk) {
    keybd_event(vk, 0, 0, 0);
    keybd_event(vk, 0, KEYEVENTF_KEYUP, 0);
    qk::PumpMessages();
  }
  void Hold(BYTE vk, bool down) {
    keybd_event(vk, 0, down ? 0 : KEYEVENTF_KEYUP, 0);
    qk::PumpMessages();
  }
  // Characters as the message loop's translation hands them to the focus.
  void Type(const std::u16string& text) {
    for (char16_t c : text) PostMessageW(GetFocus(), WM_CHAR, c, 1);
    qk::PumpMessages();
  }
  static std::u16string TextOf(HWND w) {
    WCHAR buffer[1024] = {};
    GetWindowTextW(w, buffer, 1024);
    return buffer;
  }
  static std::pair<int, int> Sel(HWND edit) {
    DWORD s = 0, e = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
    return {static_cast<int>(s), static_cast<int>(e)};
  }
  static int S(int n) { return qk::ControlScale(n); }

  ctest::Host host_;
  HWND window_ = nullptr;
  HFONT font_ = nullptr;
};

}  // namespace ctest
