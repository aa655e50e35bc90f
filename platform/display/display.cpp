// PNG pictures of the screen and the SDL2 window.
//
// The window library is loaded when a window first opens, not at start: a
// program that stays headless (an update task, a test, a screenshot run)
// never maps it nor the forty-odd libraries it brings along. The build
// still uses SDL2's own headers for its types and constants.
#include "display/display.h"

#include <dlfcn.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <SDL.h>
#include <SDL_syswm.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "controls/commctrl.h"
#include "gdi/image_codec.h"
#include "kernel/module.h"
#include "kernel/sync.h"
#include "kernel/wstring.h"
#include "gdi/surface.h"
#include "shell/aygshell.h"
#include "user/dialog.h"
#include "user/idle.h"
#include "user/input.h"
#include "user/remote.h"
#include "user/user.h"

namespace qk::display {

namespace {

// The SDL2 calls the window uses, resolved from the library at run time.
#define QK_SDL_CALLS(X)                                                                                       \
  X(SDL_Init) X(SDL_Quit) X(SDL_CreateWindow) X(SDL_DestroyWindow) X(SDL_CreateRenderer) X(SDL_DestroyRenderer) \
  X(SDL_RenderSetLogicalSize) X(SDL_CreateTexture) X(SDL_DestroyTexture) X(SDL_UpdateTexture) X(SDL_RenderClear) \
  X(SDL_RenderCopy) X(SDL_RenderPresent) X(SDL_StartTextInput) X(SDL_PollEvent) X(SDL_GetClipboardText) X(SDL_free)  \
  X(SDL_SetClipboardText) X(SDL_GetWindowWMInfo) X(SDL_CreateSystemCursor) X(SDL_SetCursor) X(SDL_GetDefaultCursor) \
  X(SDL_FreeCursor)

struct SdlCalls {
#define QK_SDL_MEMBER(name) decltype(&::name) name = nullptr;
  QK_SDL_CALLS(QK_SDL_MEMBER)
#undef QK_SDL_MEMBER
};

SdlCalls g_sdl;

// Loads the library once (it stays loaded); false when it or one of its
// calls is missing, and then the program stays headless.
bool LoadSdl() {
  static const bool loaded = [] {
    void* lib = qk::OpenSystemLibrary({"libSDL2-2.0.so.0", "libSDL2.so"}, true);
    if (!lib) return false;
    SdlCalls calls;
    bool all = true;
#define QK_SDL_RESOLVE(name) all = qk::ResolveCall(lib, #name, &calls.name) && all;
    QK_SDL_CALLS(QK_SDL_RESOLVE)
#undef QK_SDL_RESOLVE
    if (!all) {
      dlclose(lib);
      return false;
    }
    g_sdl = calls;
    return true;
  }();
  return loaded;
}

// Written under a temporary name and renamed into place, so that a reader
// never meets half a picture.
bool WritePng(const std::vector<uint8_t>& png, const std::string& path) {
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

bool WritePixels(int w, int h, const std::vector<uint32_t>& rgb, const std::string& path) {
  std::vector<uint8_t> png;
  return qk::gdi::EncodePng(w, h, rgb, &png) && WritePng(png, path);
}


struct WindowState {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int width = 0, height = 0;
  uint64_t shownGeneration = ~0ull;
  bool pointerDown = false;
  // Keys handed on as down, by virtual key: released when the window loses
  // the keyboard, whose key-ups then go elsewhere.
  std::set<int> keysDown;
  // Keys whose press pasted the clipboard: their release is no key.
  std::set<int> pasteKeys;
  std::deque<InputEvent> pending;
  // The desktop's wait cursor, made when first shown, and whether it shows.
  SDL_Cursor* waitCursor = nullptr;
  bool waitShown = false;
};
std::mutex g_lock;
WindowState g_win;

// The thread that connected the screen: its message wait shows the screen.
std::atomic<DWORD> g_screenThread{0};

// Watches the window's X connection while the screen thread sleeps in its
// message wait, which waits on its queue and not on the connection: when
// the server sends something, the watcher wakes the screen thread, whose
// idle hook then takes the input. It then leaves the connection alone (its
// bytes stay unread until the hook reads them) until the hook, having read
// all of it, arms it again; so it never spins, and the idle program sleeps
// until input or a message comes.
class InputWatch {
 public:
  bool Start(int connection) {
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) return false;
    connection_ = connection;
    stop_ = false;
    armed_ = true;
    thread_ = std::thread([this] { Run(); });
    return true;
  }
  void Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    Signal();
    thread_.join();
    close(wake_);
    wake_ = connection_ = -1;
  }
  bool Running() const { return thread_.joinable(); }
  // The screen thread has read everything the connection held.
  void Arm() {
    if (!armed_.exchange(true)) Signal();
  }

 private:
  void Signal() {
    uint64_t one = 1;
    while (write(wake_, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
  void Run() {
    for (;;) {
      pollfd fds[2] = {{wake_, POLLIN, 0}, {armed_ ? connection_ : -1, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) continue;  // interrupted
      if (fds[0].revents) {
        uint64_t count;
        (void)!read(wake_, &count, sizeof count);
        if (stop_) return;
      }
      if (fds[1].revents && armed_.exchange(false)) qk::WakeIdle(g_screenThread.load());
    }
  }
  int connection_ = -1;
  int wake_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<bool> armed_{true};
  std::thread thread_;
};
InputWatch g_watch;

// The file descriptor of the window's X connection, or -1 (another video
// driver, such as Wayland's or the off-screen one).
int XConnection(SDL_Window* window) {
#if defined(SDL_VIDEO_DRIVER_X11)
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (g_sdl.SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11 && info.info.x11.display)
    return ConnectionNumber(info.info.x11.display);
#else
  (void)window;
#endif
  return -1;
}

// The X server going away (killed, its connection broken) ends the
// session. Xlib's own handling of a broken connection ends the process
// with exit() from inside whatever X call met it, under the program's feet:
// threads still running and files half-written. Instead, the layer takes
// the loss as the end of the session: Xlib's exit is replaced by a handler
// that only notes the loss (Xlib then fails every later call on that
// connection at once), and the screen thread's idle hook, seeing the note,
// forgets the window without another X call, says on stderr that the
// display was lost and asks the program to end through its own Exit steps.
std::atomic<bool> g_displayLost{false};
bool g_lossHandled = false;  // screen thread

void NoteDisplayLost(void*, void*) { g_displayLost = true; }
int QuietIOError(void*) { return 0; }

// Installs the handlers on the window's X display; false when this Xlib
// has no exit handler (older than 1.7), and then its own handling stays.
bool WatchDisplayLoss(SDL_Window* window) {
#if defined(SDL_VIDEO_DRIVER_X11)
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!g_sdl.SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11 || !info.info.x11.display)
    return false;
  void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_NOLOAD);
  if (!xlib) return false;
  using ExitHandler = void (*)(void*, void*);
  using SetExitHandler = void (*)(void*, ExitHandler, void*);
  using IOHandler = int (*)(void*);
  using SetIOHandler = IOHandler (*)(IOHandler);
  auto setExit = reinterpret_cast<SetExitHandler>(dlsym(xlib, "XSetIOErrorExitHandler"));
  auto setIO = reinterpret_cast<SetIOHandler>(dlsym(xlib, "XSetIOErrorHandler"));
  bool installed = false;
  if (setExit && setIO) {
    setExit(info.info.x11.display, NoteDisplayLost, nullptr);
    setIO(QuietIOError);
    installed = true;
  }
  dlclose(xlib);  // SDL keeps the library loaded
  return installed;
#else
  (void)window;
  return false;
#endif
}

// On the screen thread: when the display was lost, ends the session once.
// The window's X objects are left as they are: every call on them would
// only fail.
void HandleDisplayLoss() {
  if (!g_displayLost.load() || g_lossHandled) return;
  g_lossHandled = true;
  const char* name = std::getenv("DISPLAY");
  std::fprintf(stderr, "The display %s was lost: the program ends.\n", name && *name ? name : "");
  std::fflush(stderr);
  {
    std::lock_guard<std::mutex> lock(g_lock);
    qk::SetDesktopClipboard({});
    g_watch.Stop();
    qk::SetMessageBoxesShown(false);
    g_win = WindowState();
  }
  qk::RequestProgramEnd();
}

// The platform's virtual key of a desktop key, or 0 for keys the device
// does not have. Letters follow the layout (the key that types "z" is Z);
// digits and punctuation keys keep their place on the keyboard, as the
// platform's own keyboards name them.
int VirtualKey(const SDL_Keysym& key) {
  const SDL_Keycode k = key.sym;
  switch (k) {
    case SDLK_UP: return VK_UP;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_HOME: return VK_HOME;
    case SDLK_END: return VK_END;
    case SDLK_PAGEUP: return VK_PRIOR;
    case SDLK_PAGEDOWN: return VK_NEXT;
    case SDLK_INSERT: return VK_INSERT;
    case SDLK_DELETE: return VK_DELETE;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return VK_CONTROL;
    case SDLK_LALT:
    case SDLK_RALT: return VK_MENU;
    case SDLK_KP_MULTIPLY: return 0x6A;
    case SDLK_KP_PLUS: return 0x6B;
    case SDLK_KP_MINUS: return 0x6D;
    case SDLK_KP_PERIOD: return 0x6E;
    case SDLK_KP_DIVIDE: return 0x6F;
    default: break;
  }
  if (k >= SDLK_F1 && k <= SDLK_F12) return VK_F1 + (k - SDLK_F1);
  if (k >= SDLK_KP_1 && k <= SDLK_KP_9) return 0x61 + (k - SDLK_KP_1);
  if (k == SDLK_KP_0) return 0x60;
  if (k >= SDLK_a && k <= SDLK_z) return 'A' + (k - SDLK_a);
  if (k >= SDLK_0 && k <= SDLK_9) return '0' + (k - SDLK_0);
  switch (key.scancode) {
    case SDL_SCANCODE_0: return '0';
    case SDL_SCANCODE_SEMICOLON: return 0xBA;
    case SDL_SCANCODE_EQUALS: return 0xBB;
    case SDL_SCANCODE_COMMA: return 0xBC;
    case SDL_SCANCODE_MINUS: return 0xBD;
    case SDL_SCANCODE_PERIOD: return 0xBE;
    case SDL_SCANCODE_SLASH: return 0xBF;
    case SDL_SCANCODE_GRAVE: return 0xC0;
    case SDL_SCANCODE_LEFTBRACKET: return 0xDB;
    case SDL_SCANCODE_BACKSLASH: return 0xDC;
    case SDL_SCANCODE_RIGHTBRACKET: return 0xDD;
    case SDL_SCANCODE_APOSTROPHE: return 0xDE;
    default: break;
  }
  if (key.scancode >= SDL_SCANCODE_1 && key.scancode <= SDL_SCANCODE_9) return '1' + (key.scancode - SDL_SCANCODE_1);
  if (key.scancode >= SDL_SCANCODE_A && key.scancode <= SDL_SCANCODE_Z) return 'A' + (key.scancode - SDL_SCANCODE_A);
  // A key named only by what it types (no scan code): US places.
  switch (k) {
    case SDLK_SEMICOLON: return 0xBA;
    case SDLK_EQUALS: return 0xBB;
    case SDLK_COMMA: return 0xBC;
    case SDLK_MINUS: return 0xBD;
    case SDLK_PERIOD: return 0xBE;
    case SDLK_SLASH: return 0xBF;
    case SDLK_BACKQUOTE: return 0xC0;
    case SDLK_LEFTBRACKET: return 0xDB;
    case SDLK_BACKSLASH: return 0xDC;
    case SDLK_RIGHTBRACKET: return 0xDD;
    case SDLK_QUOTE: return 0xDE;
    default: return 0;
  }
}

// Keys whose characters are control characters, which the text input does
// not carry: their key-downs make their WM_CHAR as on the device.
bool MakesOwnCharacter(int vk) { return vk == VK_BACK || vk == VK_TAB || vk == VK_RETURN || vk == VK_ESCAPE; }

// Ctrl+V and Shift+Insert paste; Alt with either is some other command.
bool IsPasteKey(const SDL_Keysym& key) {
  const Uint16 mod = key.mod;
  if (mod & KMOD_ALT) return false;
  if (key.sym == SDLK_v && (mod & KMOD_CTRL) && !(mod & KMOD_SHIFT)) return true;
  return key.sym == SDLK_INSERT && (mod & KMOD_SHIFT) && !(mod & KMOD_CTRL);
}

// Text for the device from the desktop's: line breaks ("\r\n", "\r" or
// "\n") become Enter's character, other control characters but Tab are
// dropped.
std::u16string TypedText(const std::u16string& in) {
  std::u16string out;
  for (size_t i = 0; i < in.size(); ++i) {
    char16_t c = in[i];
    if (c == u'\r' || c == u'\n') {
      out += u'\r';
      if (c == u'\r' && i + 1 < in.size() && in[i + 1] == u'\n') ++i;
    } else if (c >= 0x20 || c == u'\t') {
      if (c != 0x7F) out += c;
    }
  }
  return out;
}

// Turns one event of the window into the device's input, appended to
// g_win.pending (the lock is held).
void Translate(const SDL_Event& e) {
  auto push = [](InputEvent ev) { g_win.pending.push_back(std::move(ev)); };
  switch (e.type) {
    case SDL_QUIT: {
      InputEvent ev;
      ev.kind = InputEvent::Quit;
      push(ev);
      break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      if (e.button.button != SDL_BUTTON_LEFT) break;
      g_win.pointerDown = e.type == SDL_MOUSEBUTTONDOWN;
      InputEvent ev;
      ev.kind = g_win.pointerDown ? InputEvent::PointerDown : InputEvent::PointerUp;
      ev.x = e.button.x;
      ev.y = e.button.y;
      push(ev);
      break;
    }
    case SDL_MOUSEMOTION: {
      if (!g_win.pointerDown) break;
      InputEvent ev;
      ev.kind = InputEvent::PointerMove;
      ev.x = e.motion.x;
      ev.y = e.motion.y;
      push(ev);
      break;
    }
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      int vk = VirtualKey(e.key.keysym);
      bool down = e.type == SDL_KEYDOWN;
      if (down && IsPasteKey(e.key.keysym)) {
        // The paste is the key's whole meaning: the key itself is not handed
        // on, so the focus window's own paste does not run as well.
        g_win.pasteKeys.insert(vk);
        if (!e.key.repeat) {
          InputEvent ev;
          ev.kind = InputEvent::Paste;
          push(ev);
        }
        break;
      }
      if (!down && g_win.pasteKeys.erase(vk)) break;
      if (!vk) break;
      if (down) g_win.keysDown.insert(vk);
      else if (!g_win.keysDown.erase(vk)) break;  // its press went elsewhere
      InputEvent ev;
      ev.kind = down ? InputEvent::KeyDown : InputEvent::KeyUp;
      ev.virtualKey = vk;
      ev.charactersApart = !MakesOwnCharacter(vk);
      push(ev);
      // Control with a letter types its control character (Ctrl+A is 1,
      // Ctrl+Z 26): the edits select all, copy, cut and undo by them. The
      // text input gives no text for these keys; with Alt (AltGr) they are
      // some other key.
      const Uint16 mod = e.key.keysym.mod;
      if (down && (mod & KMOD_CTRL) && !(mod & KMOD_ALT) && vk >= 'A' && vk <= 'Z') {
        InputEvent typed;
        typed.kind = InputEvent::Text;
        typed.text = std::u16string(1, static_cast<char16_t>(vk - 'A' + 1));
        push(typed);
      }
      break;
    }
    case SDL_TEXTINPUT: {
      InputEvent ev;
      ev.kind = InputEvent::Text;
      ev.text = TypedText(qk::FromUtf8(e.text.text));
      if (!ev.text.empty()) push(ev);
      break;
    }
    case SDL_WINDOWEVENT:
      g_win.shownGeneration = ~0ull;  // repaint after exposure
      if (e.window.event == SDL_WINDOWEVENT_FOCUS_LOST) {
        for (int vk : g_win.keysDown) {
          InputEvent ev;
          ev.kind = InputEvent::KeyUp;
          ev.virtualKey = vk;
          ev.charactersApart = !MakesOwnCharacter(vk);
          push(ev);
        }
        g_win.keysDown.clear();
        g_win.pasteKeys.clear();
      }
      break;
    default:
      break;
  }
}

// The screen generation last written to the requested picture.
std::atomic<uint64_t> g_shotGeneration{~0ull};
// How often a waiting program with an open window looks for input when
// the window's connection cannot be watched.
constexpr DWORD kInputPollMs = 15;

// A key of the window, or of a program that drives this one: F1 and F2
// are the phone's soft keys and press the active window's menu bar keys;
// without a bar they reach the window as keys.
void DeliverKey(BYTE vk, bool up, DWORD flags) {
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
  keybd_event(vk, 0, flags | (up ? KEYEVENTF_KEYUP : 0), 0);
}

void DeliverRemoteKey(BYTE vk, bool up) { DeliverKey(vk, up, 0); }

// The edits' cut, copy and paste use the desktop's clipboard while the
// window is open.
void PutDesktopText(const std::u16string& text) { g_sdl.SDL_SetClipboardText(qk::ToUtf8(text).c_str()); }
std::u16string DesktopText() {
  std::u16string text;
  if (char* utf8 = g_sdl.SDL_GetClipboardText()) {
    text = qk::FromUtf8(utf8);
    g_sdl.SDL_free(utf8);
  }
  return text;
}

// Shows the program's cursor over the window: the desktop's own wait
// cursor while the wait cursor is current, else the desktop's normal
// pointer. The lock is held. X draws the new cursor at once, so it shows
// while the thread goes on with the long step that asked for it.
void ApplyCursorLocked() {
  if (!g_win.window) return;
  const bool wait = qk::WaitCursorShown();
  if (wait == g_win.waitShown) return;
  if (wait) {
    if (!g_win.waitCursor) g_win.waitCursor = g_sdl.SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_WAIT);
    if (!g_win.waitCursor) return;
    g_sdl.SDL_SetCursor(g_win.waitCursor);
  } else {
    g_sdl.SDL_SetCursor(g_sdl.SDL_GetDefaultCursor());
  }
  g_win.waitShown = wait;
}

// A change of the current cursor: shown at once on the screen thread; any
// other thread wakes it, and its idle hook shows the change.
void OnCursorChanged(HCURSOR) {
  const DWORD screen = g_screenThread.load();
  if (GetCurrentThreadId() == screen) {
    std::lock_guard<std::mutex> lock(g_lock);
    ApplyCursorLocked();
  } else if (screen) {
    qk::WakeIdle(screen);
  }
}

// The busy sign on the device screen's pictures while the wait cursor is
// current: a dark square in the middle of the screen with a ring of eight
// spokes, light to dark, as the device's own wait cursor looks. Its side
// follows the density (32 pixels at 96 dpi).
struct BusySign {
  int left = 0, top = 0, side = 0;
  static BusySign For(int width, int height) {
    BusySign sign;
    sign.side = std::max(16, 32 * qk::gdi::ScreenDpi() / 96);
    sign.side = std::min({sign.side, width, height});
    sign.left = (width - sign.side) / 2;
    sign.top = (height - sign.side) / 2;
    return sign;
  }
  // Paints the sign's part of row y (0x00RRGGBB pixels) over the row.
  void PaintRow(int y, uint32_t* row) const {
    if (y < top || y >= top + side) return;
    const double half = side / 2.0;
    const double dy = y - top + 0.5 - half;
    for (int x = 0; x < side; ++x) {
      const double dx = x + 0.5 - half;
      const double r = std::sqrt(dx * dx + dy * dy) / half;
      uint32_t pixel = 0x202020;
      if (r >= 0.45 && r <= 0.8) {
        // Eight spokes, from white to grey round the ring, with gaps.
        double turn = std::atan2(dy, dx) / (2 * M_PI) + 0.5;  // 0..1
        int spoke = static_cast<int>(turn * 16) % 16;
        if (spoke % 2 == 0) {
          const uint32_t level = 0xFF - static_cast<uint32_t>(spoke / 2) * 0x14;
          pixel = level << 16 | level << 8 | level;
        }
      }
      row[left + x] = pixel;
    }
  }
};

bool WritePicture(const std::string& hostPath) { return WriteScreenPng(hostPath); }

}  // namespace

namespace {
// The focus window when it is an edit that may be changed, else null.
HWND FocusEdit() {
  HWND focus = GetFocus();
  if (!focus || !IsWindow(focus)) return nullptr;
  // Class names match without regard to case ("EDIT", "Edit").
  WCHAR cls[16] = {0};
  GetClassNameW(focus, cls, 16);
  std::string name = qk::ToUtf8(cls);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (name != "edit") return nullptr;
  if (GetWindowLongW(focus, GWL_STYLE) & ES_READONLY) return nullptr;
  return focus;
}
}  // namespace

int BackspaceKey() {
  HWND edit = FocusEdit();
  return edit && GetWindowTextLengthW(edit) > 0 ? VK_BACK : VK_ESCAPE;
}

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
    case InputEvent::KeyUp: {
      // Backspace is the phone's Back key except where it edits text; its
      // release follows what its press was.
      static int backspaceWas = VK_BACK;
      int vk = e.virtualKey;
      bool up = e.kind == InputEvent::KeyUp;
      if (vk == VK_BACK) {
        if (!up) backspaceWas = BackspaceKey();
        vk = backspaceWas;
      }
      DeliverKey(static_cast<BYTE>(vk), up, e.charactersApart ? qk::kKeyEventCharactersApart : 0);
      break;
    }
    case InputEvent::Text:
      qk::InjectCharacters(e.text);
      break;
    case InputEvent::Paste: {
      // An edit pastes the desktop's clipboard itself, as one change that
      // Ctrl+Z takes back.
      if (HWND edit = FocusEdit()) {
        SendMessageW(edit, WM_PASTE, 0, 0);
        break;
      }
      // Elsewhere the text is typed. One request to the clipboard's owner:
      // empty when there is none.
      std::u16string text;
      if (char* utf8 = g_sdl.SDL_GetClipboardText()) {
        text = TypedText(qk::FromUtf8(utf8));
        g_sdl.SDL_free(utf8);
      }
      if (!text.empty()) qk::InjectCharacters(text);
      break;
    }
    case InputEvent::Quit:
      // Closing the window ends the program from whatever screen shows:
      // every modal loop ends as cancelled and the main loop runs the
      // program's own end.
      qk::RequestProgramEnd();
      break;
    default:
      break;
  }
}

DWORD Idle() {
  if (GetCurrentThreadId() != g_screenThread.load()) return INFINITE;
  const char* shot = std::getenv("QUILLET_SCREENSHOT");
  if (shot && *shot) {
    // The busy sign is part of the picture: its coming and going is a change.
    uint64_t generation = qk::gdi::ScreenGeneration() * 2 + (qk::WaitCursorShown() ? 1 : 0);
    if (g_shotGeneration.exchange(generation) != generation && !WriteScreenPng(shot))
      g_shotGeneration = ~0ull;  // try again at the next idle
  }
  HandleDisplayLoss();
  if (!WindowOpen()) return INFINITE;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    ApplyCursorLocked();
  }
  Present();
  InputEvent e;
  bool delivered = false, pointerDelivered = false;
  while (PollInput(&e)) {
    // Input that depends on what the input before it did waits until that
    // has been handled (the wait comes back at once, and the screen shows
    // the outcome first): a pointer event goes to the window that is under
    // it once the earlier input has been handled (a tap that shows a bar,
    // then a tap on the bar), and the input after a pointer event meets
    // the windows and the focus that the pointer left; what Backspace
    // stands for depends on the edit's text.
    const bool pointer = e.kind == InputEvent::PointerDown || e.kind == InputEvent::PointerMove ||
                         e.kind == InputEvent::PointerUp;
    if (delivered &&
        (pointer || pointerDelivered || (e.kind == InputEvent::KeyDown && e.virtualKey == VK_BACK))) {
      std::lock_guard<std::mutex> lock(g_lock);
      g_win.pending.push_front(std::move(e));
      return 0;
    }
    DeliverInput(e);
    delivered = true;
    pointerDelivered = pointerDelivered || pointer;
  }
  if (g_displayLost.load()) {
    HandleDisplayLoss();
    return INFINITE;
  }
  // Everything the connection held has been read: sleep until more comes.
  std::lock_guard<std::mutex> lock(g_lock);
  if (!g_watch.Running()) return kInputPollMs;
  g_watch.Arm();
  return INFINITE;
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
  qk::remote::SetHooks(DeliverRemoteKey, WritePicture);
  qk::SetCursorHook(OnCursorChanged);
}

bool WriteScreenPng(const std::string& hostPath) {
  auto surface = qk::gdi::ScreenSurface();
  std::vector<uint8_t> png;
  if (surface->bpp == 32) {
    // The screen's rows are encoded where they are, one row copied at a time
    // into a line of the encoding thread's own.
    const size_t width = static_cast<size_t>(surface->width);
    const bool busy = qk::WaitCursorShown();
    const BusySign sign = BusySign::For(surface->width, surface->height);
    auto row = [&](int y) {
      thread_local std::vector<uint32_t> line;
      line.resize(width);
      std::memcpy(line.data(), surface->Row(y), width * 4);
      if (busy) sign.PaintRow(y, line.data());
      return line.data();
    };
    return qk::gdi::EncodePngRows(surface->width, surface->height, row, &png) && WritePng(png, hostPath);
  }
  std::vector<uint32_t> rgb;
  qk::gdi::ReadBitmapPixels(*surface, &rgb);
  if (qk::WaitCursorShown() && surface->width > 0) {
    const BusySign sign = BusySign::For(surface->width, surface->height);
    for (int y = 0; y < surface->height; ++y) sign.PaintRow(y, rgb.data() + static_cast<size_t>(y) * surface->width);
  }
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
  qk::gdi::ReadBitmapPixels(*dc->s.bitmap, &rgb);
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
  if (!LoadSdl() || g_sdl.SDL_Init(SDL_INIT_VIDEO) != 0) return false;
  auto cfg = qk::gdi::GetScreenConfig();
  g_win.width = cfg.width;
  g_win.height = cfg.height;
  g_win.window = g_sdl.SDL_CreateWindow(title ? title : "Quillet", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                  cfg.width, cfg.height, SDL_WINDOW_RESIZABLE);
  if (!g_win.window) {
    g_sdl.SDL_Quit();
    return false;
  }
  g_win.renderer = g_sdl.SDL_CreateRenderer(g_win.window, -1, 0);
  if (g_win.renderer) {
    g_sdl.SDL_RenderSetLogicalSize(g_win.renderer, cfg.width, cfg.height);
    g_win.texture = g_sdl.SDL_CreateTexture(g_win.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                      cfg.width, cfg.height);
  }
  if (!g_win.renderer || !g_win.texture) {
    if (g_win.renderer) g_sdl.SDL_DestroyRenderer(g_win.renderer);
    g_sdl.SDL_DestroyWindow(g_win.window);
    g_win = WindowState();
    g_sdl.SDL_Quit();
    return false;
  }
  // Typed text comes as the desktop's text input.
  g_sdl.SDL_StartTextInput();
  qk::SetDesktopClipboard({PutDesktopText, DesktopText});
  int connection = XConnection(g_win.window);
  if (connection >= 0) g_watch.Start(connection);
  WatchDisplayLoss(g_win.window);
  // A person sees the screen now: message boxes are shown for them to answer.
  qk::SetMessageBoxesShown(true);
  return true;
}

void CloseWindow() {
  std::lock_guard<std::mutex> lock(g_lock);
  if (!g_win.window) return;
  qk::SetDesktopClipboard({});
  g_watch.Stop();
  qk::SetMessageBoxesShown(false);
  if (g_win.waitCursor) g_sdl.SDL_FreeCursor(g_win.waitCursor);
  g_sdl.SDL_DestroyTexture(g_win.texture);
  g_sdl.SDL_DestroyRenderer(g_win.renderer);
  g_sdl.SDL_DestroyWindow(g_win.window);
  g_win = WindowState();
  g_sdl.SDL_Quit();
}

bool DisplayLost() { return g_displayLost.load(); }

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
  g_sdl.SDL_UpdateTexture(g_win.texture, nullptr, surface->bits, surface->stride);
  g_sdl.SDL_RenderClear(g_win.renderer);
  g_sdl.SDL_RenderCopy(g_win.renderer, g_win.texture, nullptr, nullptr);
  g_sdl.SDL_RenderPresent(g_win.renderer);
}

bool PollInput(InputEvent* event) {
  if (!event) return false;
  std::lock_guard<std::mutex> lock(g_lock);
  if (!g_win.window) return false;
  SDL_Event e;
  while (g_win.pending.empty() && g_sdl.SDL_PollEvent(&e)) Translate(e);
  if (g_win.pending.empty()) return false;
  *event = std::move(g_win.pending.front());
  g_win.pending.pop_front();
  return true;
}

}  // namespace qk::display
