// The display layer: the screen tied to the window layer, pictures of
// bitmaps and memory DCs, and the headless default.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <tuple>
#include <string>
#include <vector>

#include <thread>

#include "display/display.h"
#include "framework/app.h"
#include "shell/aygshell.h"
#include "user/idle.h"
#include "user/input.h"
#include "gdi/image_codec.h"
#include "gdi/surface.h"
#include "kernel/wstring.h"
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

// The idle hook the test puts in front of the display's: it counts the
// idle turns and ends the message loop once the test has what it waits for
// (or after a bounded number of turns).
qk::IdleHook g_displayIdle = nullptr;
int g_idleTurns = 0;
bool (*g_doneWhen)() = nullptr;
DWORD TestIdle() {
  ++g_idleTurns;
  DWORD wait = g_displayIdle ? g_displayIdle() : INFINITE;
  if (g_idleTurns >= 200 || !g_doneWhen || g_doneWhen()) PostQuitMessage(0);
  return wait;
}

// Runs the thread's message loop as a program does, until the test hook
// ends it.
void RunLoop(bool (*doneWhen)()) {
  g_idleTurns = 0;
  g_doneWhen = doneWhen;
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0)) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

struct Seen {
  std::vector<std::tuple<UINT, WPARAM, int, int>> pointer;
  std::vector<WPARAM> keys;
  int closes = 0;
  std::vector<WPARAM> commands;
  COLORREF paint = RGB(200, 30, 60);
} g_seen;

// Paints its area on WM_USER, and notes its input.
LRESULT InputProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_USER: {
      HDC dc = GetDC(hwnd);
      HBRUSH b = CreateSolidBrush(g_seen.paint);
      RECT all = {0, 0, 1000, 1000};
      FillRect(dc, &all, b);
      DeleteObject(b);
      ReleaseDC(hwnd, dc);
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
      g_seen.pointer.emplace_back(msg, wParam, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
      return 0;
    case WM_KEYDOWN:
      g_seen.keys.push_back(wParam);
      return 0;
    case WM_CLOSE:
      ++g_seen.closes;
      return 0;
    case WM_COMMAND:
      g_seen.commands.push_back(LOWORD(wParam));
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

HWND CreateInputWindow(int x, int y, int w, int h) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = InputProc;
  wc.lpszClassName = u"DisplayInput";
  RegisterClassW(&wc);
  return CreateWindowExW(0, u"DisplayInput", u"", WS_VISIBLE, x, y, w, h, nullptr, nullptr, nullptr, nullptr);
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
  // Shown: a hidden window puts nothing on the screen.
  HWND w = CreateWindowExW(0, u"DisplayPlain", u"", WS_VISIBLE, 10, 20, 100, 50, nullptr, nullptr, nullptr, nullptr);
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

// A program that connected the screen writes the requested picture when its
// message loop goes idle after the screen changed, and only then.
TEST_F(Display, TheIdleMessageLoopWritesTheRequestedScreenshot) {
  g_seen = Seen();
  qk::gdi::SetScreenConfig(qk::gdi::KeyDeviceScreenConfig());
  qk::display::ConnectScreen();
  g_displayIdle = qk::SetIdleHook(TestIdle);
  ASSERT_EQ(g_displayIdle, &qk::display::Idle) << "connecting the screen installs the display's idle";
  std::string shot = root_ + "/requested.png";
  setenv("QUILLET_SCREENSHOT", shot.c_str(), 1);
  HWND w = CreateInputWindow(20, 40, 60, 30);
  ASSERT_NE(w, nullptr);
  PostMessageW(w, WM_USER, 0, 0);
  RunLoop(nullptr);
  ASSERT_TRUE(std::filesystem::exists(shot));
  auto img = ReadPng(shot);
  ASSERT_EQ(img.width, 240);
  ASSERT_EQ(img.height, 320);
  auto at = [&](int x, int y) {
    const uint8_t* p = &img.bgra[(static_cast<size_t>(y) * img.width + x) * 4];
    return RGB(p[2], p[1], p[0]);
  };
  EXPECT_EQ(at(20, 40), RGB(200, 30, 60));
  EXPECT_EQ(at(79, 69), RGB(200, 30, 60));
  EXPECT_EQ(at(80, 69), RGB(0, 0, 0));
  EXPECT_EQ(at(19, 40), RGB(0, 0, 0));

  // Idle again with nothing new on the screen: no picture is written.
  std::filesystem::remove(shot);
  RunLoop(nullptr);
  EXPECT_FALSE(std::filesystem::exists(shot));
  // Other threads' waits leave the screen alone.
  g_seen.paint = RGB(10, 220, 90);
  PostMessageW(w, WM_USER, 0, 0);
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, w, WM_USER, WM_USER, PM_REMOVE));
  DispatchMessageW(&m);
  DWORD otherWait = 0;
  std::thread([&] { otherWait = qk::display::Idle(); }).join();
  EXPECT_EQ(otherWait, INFINITE);
  EXPECT_FALSE(std::filesystem::exists(shot));
  // The changed screen is written at the next idle.
  RunLoop(nullptr);
  ASSERT_TRUE(std::filesystem::exists(shot));
  img = ReadPng(shot);
  EXPECT_EQ(at(50, 50), RGB(10, 220, 90));

  DestroyWindow(w);
  qk::SetIdleHook(nullptr);
  unsetenv("QUILLET_SCREENSHOT");
}

// With a window open, the idle message loop shows the screen and hands
// the mouse and keys to the program's windows as stylus and key input.
TEST_F(Display, TheIdleMessageLoopShowsTheWindowAndDeliversItsInput) {
  g_seen = Seen();
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  const char* display = std::getenv("DISPLAY");
  std::string savedDisplay = display ? display : "";
  setenv("DISPLAY", ":quillet-test", 1);
  qk::gdi::SetScreenConfig(qk::gdi::KeyDeviceScreenConfig());
  qk::display::ConnectScreen();
  if (!qk::display::OpenWindow("Quillet")) GTEST_SKIP() << "SDL has no off-screen video driver here";
  g_displayIdle = qk::SetIdleHook(TestIdle);
  HWND w = CreateInputWindow(10, 20, 100, 100);
  ASSERT_NE(w, nullptr);
  SetActiveWindow(w);
  SetFocus(w);
  qk::ClearKeyEvents();
  PushMouse(SDL_MOUSEBUTTONDOWN, 12, 34);
  PushMouse(SDL_MOUSEMOTION, 15, 60);
  PushMouse(SDL_MOUSEBUTTONUP, 15, 60);
  PushKeyDown(SDLK_F1);
  PushKeyDown(SDLK_RETURN);
  RunLoop([] { return g_seen.pointer.size() == 3 && g_seen.keys.size() == 2; });
  ASSERT_EQ(g_seen.pointer.size(), 3u);
  EXPECT_EQ(g_seen.pointer[0], std::make_tuple(UINT(WM_LBUTTONDOWN), WPARAM(MK_LBUTTON), 2, 14));
  EXPECT_EQ(g_seen.pointer[1], std::make_tuple(UINT(WM_MOUSEMOVE), WPARAM(MK_LBUTTON), 5, 40));
  EXPECT_EQ(g_seen.pointer[2], std::make_tuple(UINT(WM_LBUTTONUP), WPARAM(0), 5, 40));
  EXPECT_EQ(g_seen.keys, (std::vector<WPARAM>{0x70, 0x0D}));
  EXPECT_EQ(qk::KeyEvents().size(), 2u);
  EXPECT_LT(g_idleTurns, 200);

  // With a menu bar, F1 and F2 press its soft keys instead of reaching the
  // window as keys.
  HMENU keys = CreateMenu();
  AppendMenuW(keys, MF_STRING, 101, u"Refresh");
  AppendMenuW(keys, MF_STRING, 102, u"Menu");
  SHMENUBARINFO mbi{};
  mbi.cbSize = sizeof mbi;
  mbi.hwndParent = w;
  mbi.dwFlags = SHCMBF_HMENU | SHCMBF_HIDESIPBUTTON;
  mbi.nToolBarId = static_cast<UINT>(reinterpret_cast<uintptr_t>(keys));
  ASSERT_TRUE(SHCreateMenuBar(&mbi));
  SetActiveWindow(w);
  PushKeyDown(SDLK_F2);
  PushKeyDown(SDLK_F1);
  RunLoop([] { return g_seen.commands.size() == 2; });
  EXPECT_EQ(g_seen.commands, (std::vector<WPARAM>{102, 101}));
  EXPECT_EQ(g_seen.keys.size(), 2u);

  // Closing the display window asks the program to end: the loop (as any
  // modal loop would) ends at once, and the main loop takes the request
  // once; then the loops work again and a second close changes nothing.
  SDL_Event quit = {};
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
  RunLoop(nullptr);
  EXPECT_TRUE(qk::ProgramEndRequested());
  EXPECT_EQ(g_seen.closes, 0);
  EXPECT_TRUE(qk::TakeProgramEnd());
  EXPECT_FALSE(qk::TakeProgramEnd());
  qk::ClearQuit();  // the test hook's own quit
  SDL_PushEvent(&quit);
  PostMessageW(w, WM_CLOSE, 0, 0);
  RunLoop([] { return g_seen.closes == 1; });
  EXPECT_EQ(g_seen.closes, 1);
  EXPECT_FALSE(qk::TakeProgramEnd());

  DestroyWindow(w);
  qk::SetIdleHook(nullptr);
  qk::display::CloseWindow();
  if (savedDisplay.empty()) unsetenv("DISPLAY");
  else setenv("DISPLAY", savedDisplay.c_str(), 1);
  unsetenv("SDL_VIDEODRIVER");
}

namespace {

void PushKey(Uint32 type, SDL_Keycode sym, SDL_Scancode scancode, Uint16 mod = KMOD_NONE) {
  SDL_Event e = {};
  e.type = type;
  e.key.keysym.sym = sym;
  e.key.keysym.scancode = scancode;
  e.key.keysym.mod = mod;
  SDL_PushEvent(&e);
}

// A key as the desktop gives it: down, the text it typed (if any), up.
void PushTyped(SDL_Keycode sym, SDL_Scancode scancode, const char* text, Uint16 mod = KMOD_NONE) {
  PushKey(SDL_KEYDOWN, sym, scancode, mod);
  if (text) {
    SDL_Event e = {};
    e.type = SDL_TEXTINPUT;
    std::snprintf(e.text.text, sizeof e.text.text, "%s", text);
    SDL_PushEvent(&e);
  }
  PushKey(SDL_KEYUP, sym, scancode, mod);
}

HWND g_edit = nullptr;
std::string g_want;
std::string EditText() {
  WCHAR buf[256] = {0};
  GetWindowTextW(g_edit, buf, 256);
  return qk::ToUtf8(buf);
}

std::vector<int> KeyDownsSeen() {
  std::vector<int> out;
  for (const auto& k : qk::KeyEvents())
    if (!(k.flags & KEYEVENTF_KEYUP)) out.push_back(k.vk);
  return out;
}

}  // namespace

// What a person types reaches the focused edit once as characters (the
// desktop's text, punctuation, Shift, accents and characters beyond the
// basic plane included), with the keys as key messages; Backspace deletes
// in an edit with text and is Back elsewhere; Ctrl+V pastes the desktop's
// clipboard.
TEST_F(Display, TypedTextReachesTheFocusedEditOnceAndBackspaceDeletesThere) {
  g_seen = Seen();
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  const char* display = std::getenv("DISPLAY");
  std::string savedDisplay = display ? display : "";
  setenv("DISPLAY", ":quillet-test", 1);
  qk::display::ConnectScreen();
  if (!qk::display::OpenWindow("Quillet")) GTEST_SKIP() << "SDL has no off-screen video driver here";
  g_displayIdle = qk::SetIdleHook(TestIdle);
  HWND w = CreateInputWindow(0, 0, 200, 100);
  ASSERT_NE(w, nullptr);
  g_edit = CreateWindowExW(0, u"EDIT", u"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 5, 5, 190, 30, w, nullptr,
                           nullptr, nullptr);
  ASSERT_NE(g_edit, nullptr);
  SetActiveWindow(w);
  SetFocus(g_edit);
  qk::ClearKeyEvents();

  // "1.2:/Zé" then Backspace, then a character written as a surrogate pair.
  PushTyped(SDLK_1, SDL_SCANCODE_1, "1");
  PushTyped(SDLK_PERIOD, SDL_SCANCODE_PERIOD, ".");
  PushTyped(SDLK_2, SDL_SCANCODE_2, "2");
  PushKey(SDL_KEYDOWN, SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, KMOD_LSHIFT);
  PushTyped(SDLK_SEMICOLON, SDL_SCANCODE_SEMICOLON, ":", KMOD_LSHIFT);
  PushKey(SDL_KEYUP, SDLK_LSHIFT, SDL_SCANCODE_LSHIFT);
  PushTyped(SDLK_SLASH, SDL_SCANCODE_SLASH, "/");
  PushKey(SDL_KEYDOWN, SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, KMOD_LSHIFT);
  PushTyped(SDLK_z, SDL_SCANCODE_Z, "Z", KMOD_LSHIFT);
  PushKey(SDL_KEYUP, SDLK_LSHIFT, SDL_SCANCODE_LSHIFT);
  PushTyped(SDLK_e, SDL_SCANCODE_E, "\xC3\xA9");  // a composed "é"
  PushTyped(SDLK_BACKSPACE, SDL_SCANCODE_BACKSPACE, nullptr);
  PushTyped(SDLK_UNKNOWN, SDL_SCANCODE_UNKNOWN, "\xF0\x9D\x84\x9E");  // U+1D11E from an input method
  g_want = "1.2:/Z\xF0\x9D\x84\x9E";
  RunLoop([] { return EditText() == g_want; });
  EXPECT_EQ(EditText(), g_want);
  WCHAR units[16] = {0};
  GetWindowTextW(g_edit, units, 16);
  EXPECT_EQ(units[6], 0xD834);
  EXPECT_EQ(units[7], 0xDD1E);
  EXPECT_EQ(KeyDownsSeen(), (std::vector<int>{'1', 0xBE, '2', VK_SHIFT, 0xBA, 0xBF, VK_SHIFT, 'Z', 'E', VK_BACK}));
  EXPECT_EQ(GetKeyState(VK_SHIFT), 0) << "Shift was released";

  // Ctrl+V pastes the desktop's clipboard into the edit; the V key itself
  // reaches no window (the edit's own paste would come twice).
  ASSERT_EQ(SDL_SetClipboardText("?q=a&b"), 0);
  qk::ClearKeyEvents();
  PushKey(SDL_KEYDOWN, SDLK_LCTRL, SDL_SCANCODE_LCTRL, KMOD_LCTRL);
  PushKey(SDL_KEYDOWN, SDLK_v, SDL_SCANCODE_V, KMOD_LCTRL);
  PushKey(SDL_KEYUP, SDLK_v, SDL_SCANCODE_V, KMOD_LCTRL);
  PushKey(SDL_KEYUP, SDLK_LCTRL, SDL_SCANCODE_LCTRL);
  g_want += "?q=a&b";
  RunLoop([] { return EditText() == g_want; });
  EXPECT_EQ(EditText(), g_want);
  EXPECT_EQ(KeyDownsSeen(), (std::vector<int>{VK_CONTROL}));

  // In an empty edit, and where the focus is no edit, Backspace is Back;
  // Escape is Back everywhere.
  SetWindowTextW(g_edit, u"");
  EXPECT_EQ(qk::display::BackspaceKey(), VK_ESCAPE);
  SetWindowTextW(g_edit, u"x");
  EXPECT_EQ(qk::display::BackspaceKey(), VK_BACK);
  SetFocus(w);
  EXPECT_EQ(qk::display::BackspaceKey(), VK_ESCAPE);
  qk::ClearKeyEvents();
  g_seen.keys.clear();
  PushTyped(SDLK_BACKSPACE, SDL_SCANCODE_BACKSPACE, nullptr);
  PushTyped(SDLK_ESCAPE, SDL_SCANCODE_ESCAPE, nullptr);
  RunLoop([] { return g_seen.keys.size() == 2; });
  EXPECT_EQ(g_seen.keys, (std::vector<WPARAM>{VK_ESCAPE, VK_ESCAPE}));
  ASSERT_EQ(qk::KeyEvents().size(), 4u);
  EXPECT_EQ(qk::KeyEvents()[1].vk, VK_ESCAPE) << "Backspace's release follows its press";

  DestroyWindow(w);
  qk::SetIdleHook(nullptr);
  qk::display::CloseWindow();
  if (savedDisplay.empty()) unsetenv("DISPLAY");
  else setenv("DISPLAY", savedDisplay.c_str(), 1);
  unsetenv("SDL_VIDEODRIVER");
}

namespace {

// A step under the wait cursor that fails half-way: it leaves by an early
// return.
bool FailingStep(bool* waitDuring) {
  CWaitCursor wait;
  *waitDuring = qk::WaitCursorShown();
  return false;
}

}  // namespace

// The wait cursor: the layer's two cursors, the current one set from any
// thread, and the busy sign in the middle of the screen's pictures while it
// is current, gone again once it is not (the screen itself is untouched).
TEST_F(Display, TheWaitCursorShowsAsABusySignOnThePicturesUntilItIsTakenAway) {
  g_seen = Seen();
  qk::gdi::SetScreenConfig(qk::gdi::KeyDeviceScreenConfig());  // 240 x 320, 96 dpi: a 32-pixel sign
  qk::display::ConnectScreen();
  g_displayIdle = qk::SetIdleHook(TestIdle);
  std::string shot = root_ + "/busy.png";
  setenv("QUILLET_SCREENSHOT", shot.c_str(), 1);

  const HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW), wait = LoadCursor(nullptr, IDC_WAIT);
  ASSERT_NE(arrow, nullptr);
  ASSERT_NE(wait, nullptr);
  EXPECT_NE(arrow, wait);
  EXPECT_EQ(LoadCursor(nullptr, IDC_WAIT), wait);
  // The programs bring no cursors of their own.
  EXPECT_EQ(LoadCursor(nullptr, MAKEINTRESOURCEW(32650)), nullptr);
  EXPECT_EQ(LoadCursor(reinterpret_cast<HINSTANCE>(&g_seen), IDC_WAIT), nullptr);
  SetCursor(arrow);

  HWND w = CreateInputWindow(0, 0, 240, 320);
  ASSERT_NE(w, nullptr);
  g_seen.paint = RGB(40, 160, 90);
  PostMessageW(w, WM_USER, 0, 0);
  RunLoop(nullptr);
  auto img = ReadPng(shot);
  auto at = [&](int x, int y) {
    const uint8_t* p = &img.bgra[(static_cast<size_t>(y) * img.width + x) * 4];
    return RGB(p[2], p[1], p[0]);
  };
  ASSERT_EQ(img.width, 240);
  EXPECT_EQ(at(120, 160), RGB(40, 160, 90));

  // Shown: the screen did not change, yet the picture is written anew with
  // the sign, its dark ground from (104, 144) to (135, 175).
  EXPECT_EQ(SetCursor(wait), arrow);
  EXPECT_EQ(GetCursor(), wait);
  EXPECT_TRUE(qk::WaitCursorShown());
  std::filesystem::remove(shot);
  RunLoop(nullptr);
  ASSERT_TRUE(std::filesystem::exists(shot));
  img = ReadPng(shot);
  EXPECT_EQ(at(120, 160), RGB(0x20, 0x20, 0x20));
  EXPECT_EQ(at(104, 144), RGB(0x20, 0x20, 0x20));
  EXPECT_EQ(at(135, 175), RGB(0x20, 0x20, 0x20));
  EXPECT_EQ(at(103, 144), RGB(40, 160, 90));
  EXPECT_EQ(at(136, 175), RGB(40, 160, 90));
  // A ring of light spokes round its middle.
  int light = 0;
  for (int x = 104; x < 136; ++x) light += GetRValue(at(x, 160)) > 0x80;
  EXPECT_GT(light, 4);
  // The screen under the sign is the windows' painting still.
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetPixel(screen, 120, 160), RGB(40, 160, 90));
  ReleaseDC(nullptr, screen);

  // Taken away on another thread (a refresh's worker): the screen thread's
  // wait wakes and writes the picture without the sign.
  std::filesystem::remove(shot);
  std::thread([&] { EXPECT_EQ(SetCursor(arrow), wait); }).join();
  EXPECT_FALSE(qk::WaitCursorShown());
  RunLoop(nullptr);
  ASSERT_TRUE(std::filesystem::exists(shot));
  img = ReadPng(shot);
  EXPECT_EQ(at(120, 160), RGB(40, 160, 90));

  // A step under the wait cursor puts back what it replaced on every way
  // out, and a step within another leaves the outer one's wait in place.
  bool during = false;
  EXPECT_FALSE(FailingStep(&during));
  EXPECT_TRUE(during);
  EXPECT_EQ(GetCursor(), arrow);
  {
    CWaitCursor outer;
    EXPECT_FALSE(FailingStep(&during));
    EXPECT_TRUE(qk::WaitCursorShown());
  }
  EXPECT_EQ(GetCursor(), arrow);

  DestroyWindow(w);
  qk::SetIdleHook(nullptr);
  unsetenv("QUILLET_SCREENSHOT");
}
