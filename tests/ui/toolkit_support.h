// Shared pieces of the toolkit tests: a window whose messages go to a test's
// handler, synthetic pointer and key input through the window layer, picture
// writing, and images built in memory.
#pragma once

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "display/display.h"
#include "gdi/image_codec.h"
#include "gdi/surface.h"
#include "kernel/resource.h"
#include "quillet/ui/touch_image.h"
#include "support/host_window.h"
#include "user/input.h"
#include "user/user.h"

namespace uitest {

using Handler = std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT*)>;

inline Handler& CurrentHandler() {
  static Handler handler;
  return handler;
}

inline LRESULT HandlerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (CurrentHandler() && CurrentHandler()(hwnd, msg, wParam, lParam, &result)) return result;
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// A visible top-level window of the screen's size whose messages reach
// handler first (everything it leaves goes to DefWindowProc).
inline HWND CreateHandlerWindow(int width, int height, Handler handler) {
  CurrentHandler() = std::move(handler);
  HWND w = qtest::CreateHostWindow(u"ToolkitHost", HandlerProc, width, height, u"", WS_VISIBLE);
  ShowWindow(w, SW_SHOW);
  SetFocus(w);
  return w;
}

// A stylus press, drag and release at screen points, each delivered by the
// pump before the next.
inline void Press(int x, int y) {
  qk::InjectPointer(WM_LBUTTONDOWN, x, y);
  qk::PumpMessages();
}
inline void Move(int x, int y) {
  qk::InjectPointer(WM_MOUSEMOVE, x, y);
  qk::PumpMessages();
}
inline void Release(int x, int y) {
  qk::InjectPointer(WM_LBUTTONUP, x, y);
  qk::PumpMessages();
}
inline void TapAt(int x, int y) {
  Press(x, y);
  Release(x, y);
}
// A key pressed and released on the focused window.
inline void Key(BYTE vk) {
  keybd_event(vk, 0, 0, 0);
  keybd_event(vk, 0, KEYEVENTF_KEYUP, 0);
  qk::PumpMessages();
}
// Runs the controlled clock on in steps, pumping the timers due.
inline void RunTimers(int ms, int step = 10) {
  for (int t = 0; t < ms; t += step) {
    qk::AdvanceClock(step);
    qk::PumpMessages();
  }
}

inline std::string PicturesDir() {
  const char* env = std::getenv("QUILLET_PICTURES_DIR");
  std::string dir = env && *env ? env : std::string(QUILLET_BINARY_DIR) + "/pictures";
  std::filesystem::create_directories(dir);
  return dir;
}

// A 32-bit top-left-origin TGA of width x height; px gives 0xAARRGGBB.
inline std::vector<BYTE> MakeTga(int width, int height, const std::function<uint32_t(int, int)>& px) {
  std::vector<BYTE> tga(18 + static_cast<size_t>(width) * height * 4, 0);
  tga[2] = 2;
  tga[12] = static_cast<BYTE>(width & 0xFF);
  tga[13] = static_cast<BYTE>(width >> 8);
  tga[14] = static_cast<BYTE>(height & 0xFF);
  tga[15] = static_cast<BYTE>(height >> 8);
  tga[16] = 32;
  tga[17] = 0x20;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint32_t c = px(x, y);
      BYTE* p = &tga[18 + (static_cast<size_t>(y) * width + x) * 4];
      p[0] = static_cast<BYTE>(c & 0xFF);
      p[1] = static_cast<BYTE>((c >> 8) & 0xFF);
      p[2] = static_cast<BYTE>((c >> 16) & 0xFF);
      p[3] = static_cast<BYTE>(c >> 24);
    }
  return tga;
}

// Registers TGA images as "TARGA" resources of the program under the ids
// given; the bytes live for the rest of the process.
inline void RegisterTargaResource(WORD id, std::vector<BYTE> bytes) {
  // The resource table keeps a copy of the entry; the bytes stay here.
  static std::deque<std::vector<BYTE>> kept;
  kept.push_back(std::move(bytes));
  const qk::ResourceEntry entry{u"TARGA", 0, id, nullptr, kept.back().data(), kept.back().size()};
  qk::RegisterResources(nullptr, &entry, 1);
}

// True when every opaque pixel of the image is found on the DC with the
// image's top-left corner at (x, y).
inline bool ImageDrawnAt(HDC hdc, const CTouchImage& image, int x, int y) {
  int opaque = 0;
  for (int r = 0; r < image.GetHeight(); ++r)
    for (int c = 0; c < image.GetWidth(); ++c) {
      size_t i = static_cast<size_t>(r) * image.GetWidth() + c;
      if (image.Alpha()[i] != 255) continue;
      ++opaque;
      if (GetPixel(hdc, x + c, y + r) != RGB(image.Red()[i], image.Green()[i], image.Blue()[i])) return false;
    }
  return opaque > 0;
}

// Writes the device screen to a PNG in the pictures folder and checks that
// it has the screen's size.
inline bool WriteScreenPicture(const std::string& name) {
  std::string path = PicturesDir() + "/" + name;
  return qk::display::WriteScreenPng(path);
}

}  // namespace uitest
