// The display layer: the screen tied to the window layer, pictures of
// bitmaps and memory DCs, and the headless default.
#include <gtest/gtest.h>

#include <cstdlib>

#include "display/display.h"
#include "gdi/image_codec.h"
#include "gdi/surface.h"
#include "support/device_fixture.h"
#include "user/user.h"

namespace {

class Display : public qtest::DeviceTest {
 protected:
  void TearDown() override {
    qk::gdi::SetWindowDCProvider(nullptr);
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qk::display::ConnectScreen();
    qk::gdi::SetWindowDCProvider(nullptr);
    unsetenv("QUILLET_HEADLESS");
    DeviceTest::TearDown();
  }
};

LRESULT PlainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

qk::gdi::DecodedImage ReadPng(const std::string& path) {
  std::string bytes = qtest::ReadHostFile(path);
  qk::gdi::DecodedImage img;
  EXPECT_TRUE(qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &img));
  return img;
}

}  // namespace

TEST_F(Display, WindowDcsDrawOnTheWindowsAreaOfTheScreen) {
  qk::gdi::SetScreenConfig(qk::gdi::KeyDeviceScreenConfig());
  qk::display::ConnectScreen();
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 240);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 320);
  WNDCLASSW wc{};
  wc.lpfnWndProc = PlainProc;
  wc.lpszClassName = u"DisplayPlain";
  RegisterClassW(&wc);
  HWND w = CreateWindowExW(0, u"DisplayPlain", u"", 0, 10, 20, 100, 50, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  HDC dc = GetDC(w);
  ASSERT_NE(dc, nullptr);
  HBRUSH b = CreateSolidBrush(RGB(0, 128, 255));
  RECT all = {-50, -50, 500, 500};
  FillRect(dc, &all, b);  // clipped to the window
  DeleteObject(b);
  ReleaseDC(w, dc);
  auto screen = qk::gdi::ScreenSurface();
  EXPECT_EQ(screen->Get(10, 20), RGB(0, 128, 255));
  EXPECT_EQ(screen->Get(109, 69), RGB(0, 128, 255));
  EXPECT_EQ(screen->Get(110, 69), RGB(0, 0, 0));
  EXPECT_EQ(screen->Get(9, 20), RGB(0, 0, 0));
  DestroyWindow(w);
  EXPECT_EQ(GetDC(w), nullptr) << "a destroyed window has no DC";
}

TEST_F(Display, PicturesOfBitmapsAndMemoryDcs) {
  HDC mem = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateBitmap(3, 2, 1, 32, nullptr);
  HGDIOBJ old = SelectObject(mem, bmp);
  SetPixel(mem, 2, 1, RGB(1, 2, 3));
  std::string a = root_ + "/dc.png", b = root_ + "/bitmap.png";
  ASSERT_TRUE(qk::display::WriteDCPng(mem, a));
  SelectObject(mem, old);
  ASSERT_TRUE(qk::display::WriteBitmapPng(bmp, b));
  for (const std::string& path : {a, b}) {
    auto img = ReadPng(path);
    ASSERT_EQ(img.width, 3);
    ASSERT_EQ(img.height, 2);
    const uint8_t* p = &img.bgra[(1 * 3 + 2) * 4];
    EXPECT_EQ(p[2], 1);
    EXPECT_EQ(p[1], 2);
    EXPECT_EQ(p[0], 3);
  }
  EXPECT_FALSE(qk::display::WriteDCPng(nullptr, a));
  EXPECT_FALSE(qk::display::WriteBitmapPng(nullptr, a));
  DeleteDC(mem);
  DeleteObject(bmp);
}

TEST_F(Display, HeadlessWhenAskedOrWithoutADisplay) {
  setenv("QUILLET_HEADLESS", "1", 1);
  EXPECT_FALSE(qk::display::DisplayAvailable());
  EXPECT_FALSE(qk::display::OpenWindow("Quillet"));
  EXPECT_FALSE(qk::display::WindowOpen());
  qk::display::InputEvent e;
  EXPECT_FALSE(qk::display::PollInput(&e));
  qk::display::Present();  // nothing to show: no effect
  qk::display::CloseWindow();
}
