// The display layer: the screen tied to the window layer, pictures of
// bitmaps and memory DCs, and the headless default.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "display/display.h"
#include "gdi/image_codec.h"
#include "gdi/surface.h"
#include "support/device_fixture.h"
#include "user/user.h"

// SDL's video start-up opens the session bus, whose library keeps one
// buffer for the life of the process; the leak checker is told so.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

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

// Queues a left-button or motion event at (x, y) as the mouse would.
void PushMouse(Uint32 type, int x, int y) {
  SDL_Event e = {};
  e.type = type;
  if (type == SDL_MOUSEMOTION) {
    e.motion.x = x;
    e.motion.y = y;
  } else {
    e.button.button = SDL_BUTTON_LEFT;
    e.button.x = x;
    e.button.y = y;
  }
  SDL_PushEvent(&e);
}

void PushKeyDown(SDL_Keycode key) {
  SDL_Event e = {};
  e.type = SDL_KEYDOWN;
  e.key.keysym.sym = key;
  SDL_PushEvent(&e);
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

// The window path through SDL's off-screen video driver: the screen is
// shown, and mouse and keys arrive as stylus and phone keys.
TEST_F(Display, WindowShowsTheScreenAndTranslatesInput) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  const char* display = std::getenv("DISPLAY");
  std::string savedDisplay = display ? display : "";
  setenv("DISPLAY", ":quillet-test", 1);
  qk::gdi::SetScreenConfig(qk::gdi::KeyDeviceScreenConfig());
  ASSERT_TRUE(qk::display::DisplayAvailable());
  if (!qk::display::OpenWindow("Quillet")) GTEST_SKIP() << "SDL has no off-screen video driver here";
  EXPECT_TRUE(qk::display::WindowOpen());
  EXPECT_TRUE(qk::display::OpenWindow("Quillet")) << "a second open keeps the window";
  qk::display::Present();
  PushMouse(SDL_MOUSEBUTTONDOWN, 12, 34);
  PushMouse(SDL_MOUSEMOTION, 15, 60);
  PushMouse(SDL_MOUSEBUTTONUP, 15, 60);
  PushKeyDown(SDLK_DOWN);
  PushKeyDown(SDLK_F2);
  std::vector<qk::display::InputEvent> got;
  qk::display::InputEvent in;
  while (qk::display::PollInput(&in)) got.push_back(in);
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[0].kind, qk::display::InputEvent::PointerDown);
  EXPECT_EQ(got[0].x, 12);
  EXPECT_EQ(got[0].y, 34);
  EXPECT_EQ(got[1].kind, qk::display::InputEvent::PointerMove);
  EXPECT_EQ(got[2].kind, qk::display::InputEvent::PointerUp);
  EXPECT_EQ(got[3].kind, qk::display::InputEvent::KeyDown);
  EXPECT_EQ(got[3].virtualKey, 0x28);
  EXPECT_EQ(got[4].virtualKey, 0x71);
  qk::display::CloseWindow();
  EXPECT_FALSE(qk::display::WindowOpen());
  if (savedDisplay.empty()) unsetenv("DISPLAY");
  else setenv("DISPLAY", savedDisplay.c_str(), 1);
  unsetenv("SDL_VIDEODRIVER");
}
