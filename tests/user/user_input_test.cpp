// Painting through BeginPaint, keyboard events, pointer input routed to the
// window under the point, and the platform type.
#include <gtest/gtest.h>

#include <vector>

#include "gdi/gdi.h"
#include "gdi/surface.h"
#include "kernel/kernel.h"
#include "support/device_fixture.h"
#include "user/input.h"

namespace {

struct Seen {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Seen> g_seen;
RECT g_paintRect;
bool g_paintHadDc = false;

LRESULT InputProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      g_paintHadDc = dc != nullptr;
      g_paintRect = ps.rcPaint;
      RECT all{0, 0, 1000, 1000};
      FillRect(dc, &all, reinterpret_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      EndPaint(hwnd, &ps);
      g_seen.push_back({hwnd, msg, wParam, lParam});
      return 0;
    }
    case WM_ERASEBKGND:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_MOUSEMOVE:
      g_seen.push_back({hwnd, msg, wParam, lParam});
      return msg == WM_ERASEBKGND ? 1 : 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

class InputTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    g_seen.clear();
    qk::ClearKeyEvents();
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qk::gdi::SetWindowDCProvider([](HWND window, RECT* area) { return GetWindowRect(window, area) != FALSE; });
    WNDCLASSW wc{};
    wc.lpfnWndProc = InputProc;
    wc.lpszClassName = u"InputWindow";
    RegisterClassW(&wc);
  }
  void TearDown() override {
    for (HWND w : windows_) DestroyWindow(w);
    qk::gdi::SetWindowDCProvider(nullptr);
    qtest::DeviceTest::TearDown();
  }
  HWND Make(int x, int y, int w, int h, HWND parent = nullptr, int id = 0) {
    HWND hwnd = CreateWindowExW(0, u"InputWindow", u"", WS_VISIBLE | (parent ? WS_CHILD : 0), x, y, w, h, parent,
                                reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
    if (!parent) windows_.push_back(hwnd);
    return hwnd;
  }
  std::vector<Seen> Of(UINT msg) {
    std::vector<Seen> out;
    for (auto& s : g_seen)
      if (s.msg == msg) out.push_back(s);
    return out;
  }
  std::vector<HWND> windows_;
};

TEST_F(InputTest, BeginPaintPaysThePaintDebtAndDrawsOnTheWindowsArea) {
  HWND w = Make(10, 20, 100, 50);
  qk::PumpMessages();
  ASSERT_EQ(Of(WM_PAINT).size(), 1u);
  EXPECT_TRUE(g_paintHadDc);
  EXPECT_EQ(g_paintRect.right, 100);
  EXPECT_EQ(g_paintRect.bottom, 50);
  EXPECT_EQ(Of(WM_ERASEBKGND).size(), 1u);
  qk::PumpMessages();
  EXPECT_EQ(Of(WM_PAINT).size(), 1u);  // nothing owed any more
  // The white fill covered exactly the window's rectangle of the (black)
  // screen.
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetPixel(screen, 10, 20), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(screen, 109, 69), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(screen, 110, 70), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(screen, 9, 20), RGB(0, 0, 0));
  ReleaseDC(nullptr, screen);
  InvalidateRect(w, nullptr, TRUE);
  UpdateWindow(w);  // paints at once, without the queue
  EXPECT_EQ(Of(WM_PAINT).size(), 2u);
}

TEST_F(InputTest, KeyEventsGoToTheFocusWindowAndAreRecorded) {
  HWND w = Make(0, 0, 50, 50);
  SetFocus(w);
  EXPECT_TRUE(EnableHardwareKeyboard(FALSE));
  keybd_event(0x7F, 0, KEYEVENTF_KEYUP | KEYEVENTF_SILENT, 0);
  EXPECT_FALSE(EnableHardwareKeyboard(TRUE));
  keybd_event(0x0D, 0, 0, 0);
  EXPECT_NE(GetKeyState(0x0D) & 0x8000, 0);
  qk::PumpMessages();
  auto ups = Of(WM_KEYUP);
  ASSERT_EQ(ups.size(), 1u);
  EXPECT_EQ(ups[0].wParam, 0x7Fu);
  EXPECT_NE(ups[0].lParam & (static_cast<LPARAM>(1) << 31), 0);
  ASSERT_EQ(Of(WM_KEYDOWN).size(), 1u);
  auto events = qk::KeyEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].flags, static_cast<DWORD>(KEYEVENTF_KEYUP | KEYEVENTF_SILENT));
  EXPECT_FALSE(events[0].keyboardEnabled);
  EXPECT_TRUE(events[1].keyboardEnabled);
}

TEST_F(InputTest, PointerGoesToTheWindowUnderThePointOrTheCapture) {
  HWND back = Make(0, 0, 200, 200);
  HWND front = Make(50, 50, 100, 100);
  HWND child = Make(10, 10, 20, 20, front, 7);
  qk::PumpMessages();
  g_seen.clear();
  EXPECT_EQ(qk::InjectPointer(WM_LBUTTONDOWN, 65, 65), child);
  EXPECT_EQ(qk::InjectPointer(WM_LBUTTONUP, 5, 5), back);
  SetForegroundWindow(back);
  EXPECT_EQ(WindowFromPoint(POINT{65, 65}), back);
  SetForegroundWindow(front);
  SetCapture(front);
  EXPECT_EQ(qk::InjectPointer(WM_MOUSEMOVE, 190, 190), front);
  ReleaseCapture();
  EXPECT_EQ(qk::InjectPointer(WM_LBUTTONDOWN, 300, 300), nullptr);
  qk::PumpMessages();
  auto downs = Of(WM_LBUTTONDOWN);
  ASSERT_EQ(downs.size(), 1u);
  EXPECT_EQ(downs[0].hwnd, child);
  EXPECT_EQ(downs[0].lParam, MAKELPARAM(5, 5));  // client co-ordinates of the child
  EXPECT_EQ(downs[0].wParam, static_cast<WPARAM>(MK_LBUTTON));
  auto moves = Of(WM_MOUSEMOVE);
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0].lParam, MAKELPARAM(140, 140));
}

TEST_F(InputTest, PlatformTypeComesFromTheDeviceProfile) {
  WCHAR type[128];
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, 127, type, 0));
  EXPECT_EQ(std::u16string(type), u"pocketpc");
  qk::gdi::SetScreenConfig(qk::gdi::KeyDeviceScreenConfig());
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, 127, type, 0));
  EXPECT_EQ(std::u16string(type), u"smartphone");
  EXPECT_FALSE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, 3, type, 0));
  qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
}

}  // namespace
