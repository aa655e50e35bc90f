// PNG pictures of the screen and the SDL2 window.
#include "display/display.h"

#include <SDL.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "gdi/image_codec.h"
#include "kernel/sync.h"
#include "gdi/surface.h"
#include "shell/aygshell.h"
#include "user/idle.h"
#include "user/input.h"
#include "user/remote.h"
#include "user/user.h"

namespace qk::display {

namespace {

bool WritePixels(int w, int h, const std::vector<uint32_t>& rgb, const std::string& path) {
  std::vector<uint8_t> png;
  if (!qk::gdi::EncodePng(w, h, rgb, &png)) return false;
  std::string tmp = path + ".part";
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

bool ReadSurface(const qk::gdi::Bitmap& b, std::vector<uint32_t>* rgb) {
  rgb->resize(static_cast<size_t>(b.width) * b.height);
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x) {
      COLORREF c = b.Get(x, y);
      (*rgb)[static_cast<size_t>(y) * b.width + x] = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    }
  return true;
}

struct WindowState {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int width = 0, height = 0;
  uint64_t shownGeneration = ~0ull;
  bool pointerDown = false;
};
std::mutex g_lock;
WindowState g_win;

int VirtualKey(SDL_Keycode k) {
  switch (k) {
    case SDLK_UP: return 0x26;
    case SDLK_DOWN: return 0x28;
    case SDLK_LEFT: return 0x25;
    case SDLK_RIGHT: return 0x27;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return 0x0D;
    case SDLK_ESCAPE:
    case SDLK_BACKSPACE: return 0x1B;
    case SDLK_F1: return 0x70;
    case SDLK_F2: return 0x71;
    default: break;
  }
  if (k >= SDLK_a && k <= SDLK_z) return 'A' + (k - SDLK_a);
  if (k >= SDLK_0 && k <= SDLK_9) return '0' + (k - SDLK_0);
  return 0;
}

// The thread that connected the screen: its message wait shows the screen.
std::atomic<DWORD> g_screenThread{0};
// The screen generation last written to the requested picture.
std::atomic<uint64_t> g_shotGeneration{~0ull};
// How often a waiting program with an open window looks for input.
constexpr DWORD kInputPollMs = 15;

// A key of the window, or of a program that drives this one: F1 and F2
// are the phone's soft keys and press the active window's menu bar keys;
// without a bar they reach the window as keys.
void DeliverKey(BYTE vk, bool up) {
  static bool softKeyDown[2] = {false, false};
  int soft = vk == VK_F1 ? 0 : vk == VK_F2 ? 1 : -1;
  if (soft >= 0 && !up && qk::shell::PressSoftKey(soft + 1)) {
    softKeyDown[soft] = true;
    return;
  }
  if (soft >= 0 && up && softKeyDown[soft]) {
    softKeyDown[soft] = false;
    return;
  }
  keybd_event(vk, 0, up ? KEYEVENTF_KEYUP : 0, 0);
}

bool WritePicture(const std::string& hostPath) { return WriteScreenPng(hostPath); }

// Hands the window's input to the window layer as stylus and key input.
void DeliverInput(const InputEvent& e) {
  switch (e.kind) {
    case InputEvent::PointerDown:
      qk::InjectPointer(WM_LBUTTONDOWN, e.x, e.y);
      break;
    case InputEvent::PointerMove:
      qk::InjectPointer(WM_MOUSEMOVE, e.x, e.y);
      break;
    case InputEvent::PointerUp:
      qk::InjectPointer(WM_LBUTTONUP, e.x, e.y);
      break;
    case InputEvent::KeyDown:
    case InputEvent::KeyUp:
      DeliverKey(static_cast<BYTE>(e.virtualKey), e.kind == InputEvent::KeyUp);
      break;
    case InputEvent::Quit: {
      // Closing the window closes the program's active window, which ends
      // the program as its own close would; with none, the loop ends.
      HWND active = GetActiveWindow();
      if (active && IsWindow(active))
        PostMessageW(active, WM_CLOSE, 0, 0);
      else
        PostQuitMessage(0);
      break;
    }
    default:
      break;
  }
}

}  // namespace

DWORD Idle() {
  if (GetCurrentThreadId() != g_screenThread.load()) return INFINITE;
  const char* shot = std::getenv("QUILLET_SCREENSHOT");
  if (shot && *shot) {
    uint64_t generation = qk::gdi::ScreenGeneration();
    if (g_shotGeneration.exchange(generation) != generation && !WriteScreenPng(shot))
      g_shotGeneration = ~0ull;  // try again at the next idle
  }
  if (!WindowOpen()) return INFINITE;
  Present();
  InputEvent e;
  while (PollInput(&e)) DeliverInput(e);
  return kInputPollMs;
}

void ConnectScreen() {
  auto cfg = qk::gdi::GetScreenConfig();
  qk::SetScreenSize(cfg.width, cfg.height);
  qk::gdi::SetWindowDCProvider([](HWND window, RECT* area) {
    if (!IsWindow(window)) return false;
    return GetWindowRect(window, area) != FALSE;
  });
  // A program's main window goes into the work area by default.
  qk::SetDefaultWindowArea([] { return qk::shell::VisibleDesktop(); });
  // A window's painting stays off the windows above it.
  qk::gdi::SetWindowCoverProvider([](HWND window) { return qk::WindowsAbove(window); });
  g_screenThread = GetCurrentThreadId();
  g_shotGeneration = ~0ull;
  qk::SetIdleHook(Idle);
  qk::remote::SetHooks(DeliverKey, WritePicture);
}

bool WriteScreenPng(const std::string& hostPath) {
  auto surface = qk::gdi::ScreenSurface();
  std::vector<uint32_t> rgb;
  ReadSurface(*surface, &rgb);
  return WritePixels(surface->width, surface->height, rgb, hostPath);
}

bool WriteBitmapPng(HBITMAP bitmap, const std::string& hostPath) {
  int w = 0, h = 0;
  std::vector<uint32_t> rgb;
  if (!qk::gdi::ReadPixels(bitmap, &w, &h, &rgb) || w <= 0 || h <= 0) return false;
  return WritePixels(w, h, rgb, hostPath);
}

bool WriteDCPng(HDC memoryDC, const std::string& hostPath) {
  auto dc = qk::gdi::LookupDC(memoryDC);
  if (!dc || !dc->s.bitmap || dc->s.bitmap->width <= 0 || dc->s.bitmap->height <= 0) return false;
  std::vector<uint32_t> rgb;
  ReadSurface(*dc->s.bitmap, &rgb);
  return WritePixels(dc->s.bitmap->width, dc->s.bitmap->height, rgb, hostPath);
}

bool WriteRequestedScreenshot() {
  const char* path = std::getenv("QUILLET_SCREENSHOT");
  if (!path || !*path) return false;
  return WriteScreenPng(path);
}

bool DisplayAvailable() {
  if (std::getenv("QUILLET_HEADLESS")) return false;
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

bool OpenWindow(const char* title) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (g_win.window) return true;
  if (!DisplayAvailable()) return false;
  if (SDL_Init(SDL_INIT_VIDEO) != 0) return false;
  auto cfg = qk::gdi::GetScreenConfig();
  g_win.width = cfg.width;
  g_win.height = cfg.height;
  g_win.window = SDL_CreateWindow(title ? title : "Quillet", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                  cfg.width, cfg.height, SDL_WINDOW_RESIZABLE);
  if (!g_win.window) {
    SDL_Quit();
    return false;
  }
  g_win.renderer = SDL_CreateRenderer(g_win.window, -1, 0);
  if (g_win.renderer) {
    SDL_RenderSetLogicalSize(g_win.renderer, cfg.width, cfg.height);
    g_win.texture = SDL_CreateTexture(g_win.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                      cfg.width, cfg.height);
  }
  if (!g_win.renderer || !g_win.texture) {
    if (g_win.renderer) SDL_DestroyRenderer(g_win.renderer);
    SDL_DestroyWindow(g_win.window);
    g_win = WindowState();
    SDL_Quit();
    return false;
  }
  return true;
}

void CloseWindow() {
  std::lock_guard<std::mutex> lock(g_lock);
  if (!g_win.window) return;
  SDL_DestroyTexture(g_win.texture);
  SDL_DestroyRenderer(g_win.renderer);
  SDL_DestroyWindow(g_win.window);
  g_win = WindowState();
  SDL_Quit();
}

bool WindowOpen() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_win.window != nullptr;
}

void Present() {
  std::lock_guard<std::mutex> lock(g_lock);
  if (!g_win.window) return;
  uint64_t gen = qk::gdi::ScreenGeneration();
  if (gen == g_win.shownGeneration) return;
  g_win.shownGeneration = gen;
  auto surface = qk::gdi::ScreenSurface();
  if (surface->width != g_win.width || surface->height != g_win.height) return;
  // The screen's rows are 32-bit blue, green, red, unused: ARGB8888 in
  // memory order on a little-endian machine (alpha is ignored).
  SDL_UpdateTexture(g_win.texture, nullptr, surface->bits, surface->stride);
  SDL_RenderClear(g_win.renderer);
  SDL_RenderCopy(g_win.renderer, g_win.texture, nullptr, nullptr);
  SDL_RenderPresent(g_win.renderer);
}

bool PollInput(InputEvent* event) {
  if (!event) return false;
  std::lock_guard<std::mutex> lock(g_lock);
  if (!g_win.window) return false;
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    *event = InputEvent();
    switch (e.type) {
      case SDL_QUIT:
        event->kind = InputEvent::Quit;
        return true;
      case SDL_MOUSEBUTTONDOWN:
        if (e.button.button != SDL_BUTTON_LEFT) break;
        g_win.pointerDown = true;
        *event = {InputEvent::PointerDown, e.button.x, e.button.y, 0};
        return true;
      case SDL_MOUSEBUTTONUP:
        if (e.button.button != SDL_BUTTON_LEFT) break;
        g_win.pointerDown = false;
        *event = {InputEvent::PointerUp, e.button.x, e.button.y, 0};
        return true;
      case SDL_MOUSEMOTION:
        if (!g_win.pointerDown) break;
        *event = {InputEvent::PointerMove, e.motion.x, e.motion.y, 0};
        return true;
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        int vk = VirtualKey(e.key.keysym.sym);
        if (!vk) break;
        *event = {e.type == SDL_KEYDOWN ? InputEvent::KeyDown : InputEvent::KeyUp, 0, 0, vk};
        return true;
      }
      case SDL_WINDOWEVENT:
        g_win.shownGeneration = ~0ull;  // repaint after exposure
        break;
    }
  }
  return false;
}

}  // namespace qk::display
