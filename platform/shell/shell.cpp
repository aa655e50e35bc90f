// The shell's screen furniture (see aygshell.h): the task bar, menu bars
// with soft keys and their popups, the input panel and "SIPPREF", full
// screen, dialog set-up and the activation and setting-change handlers.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "gdi/surface.h"
#include "kernel/resource.h"
#include "kernel/sync.h"
#include "kernel/wstring.h"
#include "shell/aygshell.h"
#include "user/dialog.h"
#include "user/input.h"

#ifndef ERROR_RESOURCE_NAME_NOT_FOUND
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
#endif
#ifndef VK_BACK
#define VK_BACK 0x08
#endif
#ifndef VK_SPACE
#define VK_SPACE 0x20
#endif

namespace {

const char16_t kTaskBarClass[] = u"HHTaskBar";
const char16_t kMenuBarClass[] = u"menu_worker";
const char16_t kSipClass[] = u"SipWndClass";
const char16_t kPopupClass[] = u"ShellPopupMenu";

constexpr UINT kSipPrefScan = WM_APP + 0x51;    // SIPPREF: subclass the dialog's edits
constexpr UINT kSipPrefCheck = WM_APP + 0x52;   // SIPPREF: follow the focus
constexpr UINT kSipLowerLater = WM_APP + 0x53;  // the panel: a deferred SIP_DOWN

int D(int n) { return n * qk::gdi::ScreenDpi() / 96; }
int ScreenW() { return GetSystemMetrics(SM_CXSCREEN); }
int ScreenH() { return GetSystemMetrics(SM_CYSCREEN); }

struct Button {
  int id = 0;
  BYTE state = TBSTATE_ENABLED;
  BYTE style = TBSTYLE_BUTTON;
  int image = I_IMAGENONE;
  DWORD_PTR param = 0;
  std::u16string text;
  HMENU popup = nullptr;  // belongs to the bar's menu
};

struct MenuBar {
  HWND hwnd = nullptr;
  HWND owner = nullptr;
  std::vector<Button> buttons;
  HMENU menu = nullptr;  // holds the popups; destroyed with the bar when it owns it
  bool ownsMenu = true;
  bool sipButton = true;
  int pressed = -1;  // index of the button held down; -2 the panel button
  bool hasBackground = false;
  COLORREF background = 0;
};

struct State {
  bool taskBarHidden = false;
  bool startIconHidden = false;
  bool sipUp = false;
  bool sipSymbols = false;  // the panel shows digits and symbols
  bool sipShift = false;    // the next letter is a capital
  DWORD lowerGeneration = 0;
  HWND taskBar = nullptr;
  HWND sip = nullptr;
  std::map<HWND, MenuBar*> bars;            // by bar window
  std::set<HWND> clients;                   // windows told of panel changes
  std::map<HWND, DWORD> sized;              // SHInitDialog flags of the windows it sized
  std::map<HWND, bool> sipButtonHidden;     // SHFullScreen's choice per window
  std::vector<HWND> doneWindows;            // dialogs with the task bar's "ok" button
  DWORD dialogThread = 0;                   // the thread that set up those dialogs
  qk::shell::PopupHandler popupHandler;
  std::map<HWND, std::pair<WNDPROC, HWND>> sipEdits;  // subclassed edit -> old procedure, its SIPPREF
};

State& S() {
  static State state;
  return state;
}

void Fill(HDC dc, const RECT& rc, COLORREF c) {
  HBRUSH b = CreateSolidBrush(c);
  FillRect(dc, &rc, b);
  DeleteObject(b);
}

void Band(HDC dc, const RECT& rc, COLORREF top, COLORREF bottom) {
  TRIVERTEX v[2] = {{rc.left, rc.top, static_cast<COLOR16>(GetRValue(top) << 8),
                     static_cast<COLOR16>(GetGValue(top) << 8), static_cast<COLOR16>(GetBValue(top) << 8), 0},
                    {rc.right, rc.bottom, static_cast<COLOR16>(GetRValue(bottom) << 8),
                     static_cast<COLOR16>(GetGValue(bottom) << 8), static_cast<COLOR16>(GetBValue(bottom) << 8), 0}};
  GRADIENT_RECT r{0, 1};
  GradientFill(dc, v, 2, &r, 1, GRADIENT_FILL_RECT_V);
}

HFONT BarFont(bool bold) {
  LOGFONTW lf{};
  lf.lfHeight = -D(12);
  lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  lf.lfQuality = ANTIALIASED_QUALITY;
  std::u16string face = u"Tahoma";
  std::copy(face.begin(), face.end(), lf.lfFaceName);
  return CreateFontIndirectW(&lf);
}

void RegisterClasses();

// ---------------------------------------------------------------- layout

RECT TaskBarRect() { return {0, 0, ScreenW(), D(qk::shell::kBarHeight)}; }
RECT MenuBarRect() { return {0, ScreenH() - D(qk::shell::kBarHeight), ScreenW(), ScreenH()}; }
RECT SipRect() {
  RECT bar = MenuBarRect();
  return {0, bar.top - D(qk::shell::kSipHeight), ScreenW(), bar.top};
}

// The task bar shows unless hidden by the full-screen call; a program may
// also show or hide its window directly (FindWindow "HHTaskBar").
bool TaskBarShown() {
  HWND bar = S().taskBar;
  if (bar && IsWindow(bar)) return IsWindowVisible(bar) != FALSE;
  return !S().taskBarHidden;
}

void NoteClient(HWND window) {
  if (window && IsWindow(window) && !(GetWindowLongW(window, GWL_STYLE) & WS_CHILD)) S().clients.insert(window);
}

// One of the shell's own windows: a topmost popup over `rc` that never takes
// the focus from the program's window.
HWND CreateShellWindow(LPCWSTR windowClass, const RECT& rc, HWND owner = nullptr, void* param = nullptr) {
  return CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, windowClass, u"", WS_POPUP, rc.left, rc.top,
                         rc.right - rc.left, rc.bottom - rc.top, owner, nullptr, nullptr, param);
}

HWND EnsureTaskBar() {
  RegisterClasses();
  State& s = S();
  if (s.taskBar && IsWindow(s.taskBar)) return s.taskBar;
  RECT rc = TaskBarRect();
  s.taskBar = CreateShellWindow(kTaskBarClass, rc);
  if (s.taskBar && !s.taskBarHidden) ShowWindow(s.taskBar, SW_SHOWNA);
  return s.taskBar;
}

HWND DoneWindow() {
  auto& done = S().doneWindows;
  done.erase(std::remove_if(done.begin(), done.end(), [](HWND w) { return !IsWindow(w); }), done.end());
  // A dialog disabled under a modal one of its own has no done button meanwhile.
  return done.empty() || !IsWindowEnabled(done.back()) ? nullptr : done.back();
}

RECT DoneRect() {
  RECT rc = TaskBarRect();
  return {rc.right - D(40), rc.top, rc.right, rc.bottom};
}

LRESULT CALLBACK TaskBarProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT rc;
      GetClientRect(window, &rc);
      Band(dc, rc, RGB(0x2A, 0x3A, 0x55), RGB(0x10, 0x1A, 0x2C));
      HFONT font = BarFont(true);
      HGDIOBJ old = SelectObject(dc, font);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(255, 255, 255));
      RECT text = rc;
      text.left += D(6);
      if (!S().startIconHidden) {
        // The start flag: four small squares.
        int s = D(5), x = rc.left + D(6), y = (rc.bottom - 2 * s - D(1)) / 2;
        Fill(dc, {x, y, x + s, y + s}, RGB(0xE0, 0x40, 0x30));
        Fill(dc, {x + s + D(1), y, x + 2 * s + D(1), y + s}, RGB(0x40, 0xB0, 0x40));
        Fill(dc, {x, y + s + D(1), x + s, y + 2 * s + D(1)}, RGB(0x30, 0x80, 0xE0));
        Fill(dc, {x + s + D(1), y + s + D(1), x + 2 * s + D(1), y + 2 * s + D(1)}, RGB(0xF0, 0xC0, 0x30));
        text.left = x + 2 * s + D(8);
      }
      HWND active = GetActiveWindow();
      if (!active) active = GetForegroundWindow();
      WCHAR title[128] = {};
      if (active && active != window) GetWindowTextW(active, title, 128);
      HWND done = DoneWindow();
      if (done) text.right = DoneRect().left - D(4);
      DrawTextW(dc, title, -1, &text, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
      if (done) {
        RECT ok = DoneRect();
        InflateRect(&ok, -D(4), -D(3));
        HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 255, 255));
        HGDIOBJ oldPen = SelectObject(dc, pen);
        HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, ok.left, ok.top, ok.right, ok.bottom);
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
        DeleteObject(pen);
        DrawTextW(dc, u"ok", 2, &ok, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
      }
      SelectObject(dc, old);
      DeleteObject(font);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_LBUTTONUP: {
      POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      RECT ok = DoneRect();
      HWND done = DoneWindow();
      if (done && PtInRect(&ok, pt)) PostMessageW(done, WM_COMMAND, IDOK, 0);
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

void RepaintTaskBar() {
  if (S().taskBar && IsWindow(S().taskBar)) InvalidateRect(S().taskBar, nullptr, TRUE);
}

// A destroyed dialog takes what the shell kept about it along: the task bar
// loses its done button at once rather than at its next repaint. Only the
// thread that set the dialogs up keeps this state.
void ForgetWindow(HWND window) {
  State& s = S();
  if (s.dialogThread != GetCurrentThreadId()) return;
  s.sized.erase(window);
  auto it = std::find(s.doneWindows.begin(), s.doneWindows.end(), window);
  if (it == s.doneWindows.end()) return;
  s.doneWindows.erase(it);
  RepaintTaskBar();
}

// ---------------------------------------------------------------- input panel

// The panel has two layouts: letters (with a shift key for one capital)
// and digits and symbols (those of web and e-mail addresses first); a key
// on the bottom row switches between them. Lower-case letters, digits,
// space, Backspace and Enter go as key presses, so the window with the focus
// sees the key and then its character; every other character goes as
// WM_CHAR on its own.
enum class KeyKind { Press, Char, Shift, Layout };

struct Key {
  std::u16string label;
  KeyKind kind;
  BYTE vk;        // Press: the virtual key
  char16_t ch;    // Char: the character
  int weight;     // width in tenths of a letter key
};

Key Press(std::u16string label, BYTE vk, int weight = 10) { return {std::move(label), KeyKind::Press, vk, 0, weight}; }

// A key that types c: as a key press when the key of that character makes
// it unshifted, else as the character.
Key Typing(char16_t c, bool shifted) {
  if (c >= u'a' && c <= u'z') {
    if (shifted) return {std::u16string(1, static_cast<char16_t>(c - u'a' + u'A')), KeyKind::Char, 0,
                         static_cast<char16_t>(c - u'a' + u'A'), 10};
    return Press(std::u16string(1, c), static_cast<BYTE>(c - u'a' + 'A'));
  }
  if (c >= u'0' && c <= u'9') return Press(std::u16string(1, c), static_cast<BYTE>(c));
  return {std::u16string(1, c), KeyKind::Char, 0, c, 10};
}

std::vector<std::vector<Key>> Keyboard(bool symbols, bool shifted) {
  auto row = [&](const char16_t* chars) {
    std::vector<Key> keys;
    for (const char16_t* c = chars; *c; ++c) keys.push_back(Typing(*c, shifted));
    return keys;
  };
  std::vector<std::vector<Key>> rows;
  if (!symbols) {
    rows = {row(u"qwertyuiop"), row(u"asdfghjkl"), row(u"zxcvbnm")};
    rows[2].insert(rows[2].begin(), Key{u"\u21E7", KeyKind::Shift, 0, 0, 15});
    rows[2].push_back(Press(u"\u2190", VK_BACK, 15));
    rows.push_back({Key{u"123", KeyKind::Layout, 0, 0, 20}, Typing(u'/', false), Press(u"space", VK_SPACE, 40),
                    Typing(u'.', false), Press(u"\u21B5", VK_RETURN, 20)});
  } else {
    rows = {row(u"1234567890"), row(u".:/-_~?=&%"), row(u"@#+*!,;'")};
    rows[2].push_back(Press(u"\u2190", VK_BACK, 20));
    rows.push_back({Key{u"abc", KeyKind::Layout, 0, 0, 20}, Typing(u'(', false), Press(u"space", VK_SPACE, 40),
                    Typing(u')', false), Press(u"\u21B5", VK_RETURN, 20)});
  }
  return rows;
}

// The key rectangles of the panel's client area, in the layout shown.
std::vector<std::pair<RECT, Key>> KeyRects(const RECT& area) {
  std::vector<std::pair<RECT, Key>> out;
  auto rows = Keyboard(S().sipSymbols, S().sipShift);
  int h = (area.bottom - area.top) / static_cast<int>(rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    int total = 0;
    for (const Key& k : rows[r]) total += k.weight;
    total = std::max(total, 100);
    int width = area.right - area.left;
    int used = 0;
    for (const Key& k : rows[r]) used += k.weight;
    int x = area.left + (width - used * width / total) / 2;
    for (const Key& k : rows[r]) {
      int w = k.weight * width / total;
      RECT rc{x, area.top + static_cast<int>(r) * h, x + w, area.top + static_cast<int>(r + 1) * h};
      out.push_back({rc, k});
      x += w;
    }
  }
  return out;
}

// The window that typed keys reach: the focus, else the active window;
// none when it or a parent is disabled.
HWND KeyTarget() {
  HWND target = GetFocus();
  if (!target || !IsWindow(target)) target = GetActiveWindow();
  if (!target || !IsWindow(target)) return nullptr;
  for (HWND w = target; w; w = GetParent(w))
    if (!IsWindowEnabled(w)) return nullptr;
  return target;
}

void PressKey(HWND panel, const Key& k) {
  State& s = S();
  switch (k.kind) {
    case KeyKind::Press:
      // The keys go to the window with the focus, as typed keys do.
      keybd_event(k.vk, 0, 0, 0);
      keybd_event(k.vk, 0, KEYEVENTF_KEYUP, 0);
      break;
    case KeyKind::Char:
      if (HWND target = KeyTarget()) PostMessageW(target, WM_CHAR, k.ch, 1);
      break;
    case KeyKind::Shift:
      s.sipShift = !s.sipShift;
      InvalidateRect(panel, nullptr, TRUE);
      return;
    case KeyKind::Layout:
      s.sipSymbols = !s.sipSymbols;
      s.sipShift = false;
      InvalidateRect(panel, nullptr, TRUE);
      return;
  }
  // Shift holds for one letter.
  if (s.sipShift && !s.sipSymbols && k.vk != VK_BACK) {
    s.sipShift = false;
    InvalidateRect(panel, nullptr, TRUE);
  }
}

LRESULT CALLBACK SipProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT rc;
      GetClientRect(window, &rc);
      Fill(dc, rc, RGB(0xC8, 0xCC, 0xD4));
      HFONT font = BarFont(false);
      HGDIOBJ old = SelectObject(dc, font);
      SetBkMode(dc, TRANSPARENT);
      for (auto& [key, k] : KeyRects(rc)) {
        RECT face = key;
        InflateRect(&face, -D(1), -D(1));
        bool lit = k.kind == KeyKind::Shift && S().sipShift;
        bool function = k.kind == KeyKind::Shift || k.kind == KeyKind::Layout || k.weight > 10;
        Fill(dc, face, lit ? RGB(0x4A, 0x6E, 0xA8) : function ? RGB(0xA8, 0xAE, 0xB8) : RGB(0xFA, 0xFA, 0xFA));
        SetTextColor(dc, lit ? RGB(0xFF, 0xFF, 0xFF) : RGB(0x10, 0x10, 0x10));
        DrawTextW(dc, k.label.c_str(), -1, &face, DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX);
      }
      SelectObject(dc, old);
      DeleteObject(font);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_LBUTTONUP: {
      POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      RECT rc;
      GetClientRect(window, &rc);
      for (auto& [key, k] : KeyRects(rc))
        if (PtInRect(&key, pt)) {
          PressKey(window, k);
          break;
        }
      return 0;
    }
    case kSipLowerLater:
      if (static_cast<DWORD>(wParam) == S().lowerGeneration) SipShowIM(SIPF_OFF);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

HWND EnsureSip() {
  RegisterClasses();
  State& s = S();
  if (s.sip && IsWindow(s.sip)) return s.sip;
  RECT rc = SipRect();
  s.sip = CreateShellWindow(kSipClass, rc);
  return s.sip;
}

void TellClients(WPARAM what) {
  std::vector<HWND> clients(S().clients.begin(), S().clients.end());
  DWORD me = GetCurrentThreadId();
  for (HWND w : clients) {
    if (!IsWindow(w)) {
      S().clients.erase(w);
      continue;
    }
    if (GetWindowThreadProcessId(w, nullptr) == me) SendMessageW(w, WM_SETTINGCHANGE, what, 0);
    else PostMessageW(w, WM_SETTINGCHANGE, what, 0);
  }
}

void RepaintBars() {
  for (auto& [hwnd, bar] : S().bars) InvalidateRect(hwnd, nullptr, TRUE);
}

// ---------------------------------------------------------------- menu bars

MenuBar* BarOf(HWND window) {
  auto it = S().bars.find(window);
  return it == S().bars.end() ? nullptr : it->second;
}

bool SipButtonShown(const MenuBar* bar) { return bar->sipButton; }

RECT SipButtonRect(const MenuBar* bar, const RECT& client) {
  if (!SipButtonShown(bar)) return {0, 0, 0, 0};
  int w = D(36), mid = (client.left + client.right) / 2;
  return {mid - w / 2, client.top, mid + w / 2, client.bottom};
}

// Slot rectangles: one button takes the left half, two the halves on
// either side of the panel button, more share the width.
RECT ButtonRect(const MenuBar* bar, size_t index, const RECT& client) {
  size_t n = bar->buttons.size();
  RECT sipButton = SipButtonRect(bar, client);
  int mid = (client.left + client.right) / 2;
  int gapLeft = SipButtonShown(bar) ? sipButton.left : mid, gapRight = SipButtonShown(bar) ? sipButton.right : mid;
  if (n <= 2) {
    if (index == 0) return {client.left, client.top, gapLeft, client.bottom};
    return {gapRight, client.top, client.right, client.bottom};
  }
  int w = (client.right - client.left) / static_cast<int>(n);
  return {client.left + static_cast<int>(index) * w, client.top, client.left + static_cast<int>(index + 1) * w,
          client.bottom};
}

int ButtonAt(const MenuBar* bar, POINT pt, const RECT& client) {
  RECT sipButton = SipButtonRect(bar, client);
  if (SipButtonShown(bar) && PtInRect(&sipButton, pt)) return -2;
  for (size_t i = 0; i < bar->buttons.size(); ++i) {
    RECT rc = ButtonRect(bar, i, client);
    if (!(bar->buttons[i].state & TBSTATE_HIDDEN) && PtInRect(&rc, pt)) return static_cast<int>(i);
  }
  return -1;
}

int FindButton(const MenuBar* bar, WPARAM idOrIndex, DWORD mask) {
  if (mask & TBIF_BYINDEX) return idOrIndex < bar->buttons.size() ? static_cast<int>(idOrIndex) : -1;
  for (size_t i = 0; i < bar->buttons.size(); ++i)
    if (bar->buttons[i].id == static_cast<int>(idOrIndex)) return static_cast<int>(i);
  return -1;
}

// Shows a popup over a soft key and returns the command chosen (0 for
// none); *back tells that Left left a submenu (its parent shows again).
UINT ShowPopup(HWND owner, HMENU popup, const RECT& key, int depth, bool* back = nullptr);

void Fire(MenuBar* bar, int index) {
  if (index == -2) {
    SipShowIM(S().sipUp ? SIPF_OFF : SIPF_ON);
    return;
  }
  if (index < 0 || index >= static_cast<int>(bar->buttons.size())) return;
  Button& b = bar->buttons[index];
  if (!(b.state & TBSTATE_ENABLED) || (b.state & TBSTATE_HIDDEN)) return;
  HWND owner = bar->owner, hwnd = bar->hwnd;
  // A window under a modal dialog or message box (its top-level window
  // disabled) takes no commands from its bar meanwhile.
  HWND top = owner;
  while (top && (GetWindowLongW(top, GWL_STYLE) & WS_CHILD)) top = GetParent(top);
  if (top && !IsWindowEnabled(top)) return;
  if (b.popup) {
    RECT client;
    GetClientRect(hwnd, &client);
    RECT key = ButtonRect(bar, index, client);
    POINT tl{key.left, key.top}, br{key.right, key.bottom};
    ClientToScreen(hwnd, &tl);
    ClientToScreen(hwnd, &br);
    HMENU popup = b.popup;
    SendMessageW(owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), index);
    UINT chosen = ShowPopup(owner, popup, {tl.x, tl.y, br.x, br.y}, 0);
    if (chosen && IsWindow(owner)) PostMessageW(owner, WM_COMMAND, chosen, 0);
    return;
  }
  PostMessageW(owner, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(b.id), 0), reinterpret_cast<LPARAM>(hwnd));
}

void PaintBar(MenuBar* bar, HDC dc) {
  RECT client;
  GetClientRect(bar->hwnd, &client);
  if (bar->hasBackground) Fill(dc, client, bar->background);
  else Band(dc, client, RGB(0x2A, 0x3A, 0x55), RGB(0x10, 0x1A, 0x2C));
  HFONT font = BarFont(true);
  HGDIOBJ old = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  for (size_t i = 0; i < bar->buttons.size(); ++i) {
    const Button& b = bar->buttons[i];
    if (b.state & TBSTATE_HIDDEN) continue;
    RECT rc = ButtonRect(bar, i, client);
    if (bar->pressed == static_cast<int>(i)) Fill(dc, rc, RGB(0x4A, 0x6E, 0xA8));
    SetTextColor(dc, (b.state & TBSTATE_ENABLED) ? RGB(255, 255, 255) : RGB(0x80, 0x88, 0x98));
    std::u16string text = b.text;
    if (b.popup) text += u" \u25B4";
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rc,
              DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
  }
  if (SipButtonShown(bar)) {
    // The panel button: a small keyboard.
    RECT rc = SipButtonRect(bar, client);
    if (bar->pressed == -2 || S().sipUp) Fill(dc, rc, RGB(0x4A, 0x6E, 0xA8));
    int w = D(20), h = D(12);
    int x = (rc.left + rc.right - w) / 2, y = (rc.top + rc.bottom - h) / 2;
    Fill(dc, {x, y, x + w, y + h}, RGB(0xE8, 0xE8, 0xE8));
    for (int r = 0; r < 2; ++r)
      for (int c = 0; c < 4; ++c) {
        int kx = x + D(2) + c * D(4) + (r ? D(1) : 0), ky = y + D(2) + r * D(4);
        Fill(dc, {kx, ky, kx + D(3), ky + D(3)}, RGB(0x30, 0x38, 0x48));
      }
    Fill(dc, {x + D(5), y + D(9), x + w - D(5), y + D(11)}, RGB(0x30, 0x38, 0x48));
  }
  SelectObject(dc, old);
  DeleteObject(font);
}

LRESULT CALLBACK MenuBarProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  MenuBar* bar = BarOf(window);
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      if (bar) PaintBar(bar, dc);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_LBUTTONDOWN:
      if (!bar) break;
      {
        POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        RECT client;
        GetClientRect(window, &client);
        bar->pressed = ButtonAt(bar, pt, client);
        if (bar->pressed >= 0 && !(bar->buttons[bar->pressed].state & TBSTATE_ENABLED)) bar->pressed = -1;
        if (bar->pressed != -1) SetCapture(window);
        InvalidateRect(window, nullptr, TRUE);
      }
      return 0;
    case WM_LBUTTONUP:
      if (!bar) break;
      {
        POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        RECT client;
        GetClientRect(window, &client);
        int pressed = bar->pressed;
        bar->pressed = -1;
        if (GetCapture() == window) ReleaseCapture();
        InvalidateRect(window, nullptr, TRUE);
        // A key counts when the stylus is lifted on the key it went down on.
        if (pressed != -1 && ButtonAt(bar, pt, client) == pressed) Fire(bar, pressed);
      }
      return 0;
    case TB_SETBUTTONINFO:
    case TB_GETBUTTONINFO: {
      auto* info = reinterpret_cast<TBBUTTONINFOW*>(lParam);
      if (!bar || !info) return msg == TB_GETBUTTONINFO ? -1 : FALSE;
      int i = FindButton(bar, wParam, info->dwMask);
      if (i < 0) return msg == TB_GETBUTTONINFO ? -1 : FALSE;
      Button& b = bar->buttons[i];
      if (msg == TB_GETBUTTONINFO) {
        if (info->dwMask & TBIF_COMMAND) info->idCommand = b.id;
        if (info->dwMask & TBIF_STATE) info->fsState = b.state;
        if (info->dwMask & TBIF_STYLE) info->fsStyle = b.style;
        if (info->dwMask & TBIF_IMAGE) info->iImage = b.image;
        if (info->dwMask & TBIF_LPARAM) info->lParam = b.param;
        if ((info->dwMask & TBIF_TEXT) && info->pszText && info->cchText > 0) {
          size_t n = std::min<size_t>(b.text.size(), static_cast<size_t>(info->cchText - 1));
          std::copy(b.text.begin(), b.text.begin() + n, info->pszText);
          info->pszText[n] = 0;
        }
        return i;
      }
      if (info->dwMask & TBIF_COMMAND) b.id = info->idCommand;
      if (info->dwMask & TBIF_STATE) b.state = info->fsState;
      if (info->dwMask & TBIF_STYLE) b.style = info->fsStyle;
      if (info->dwMask & TBIF_IMAGE) b.image = info->iImage;
      if (info->dwMask & TBIF_LPARAM) b.param = info->lParam;
      if (info->dwMask & TBIF_TEXT) b.text = info->pszText ? info->pszText : u"";
      InvalidateRect(window, nullptr, TRUE);
      return TRUE;
    }
    case TB_ENABLEBUTTON:
    case TB_HIDEBUTTON: {
      int i = bar ? FindButton(bar, wParam, 0) : -1;
      if (i < 0) return FALSE;
      BYTE flag = msg == TB_ENABLEBUTTON ? TBSTATE_ENABLED : TBSTATE_HIDDEN;
      if (LOWORD(lParam)) bar->buttons[i].state |= flag;
      else bar->buttons[i].state &= static_cast<BYTE>(~flag);
      InvalidateRect(window, nullptr, TRUE);
      return TRUE;
    }
    case TB_ISBUTTONENABLED: {
      int i = bar ? FindButton(bar, wParam, 0) : -1;
      return i >= 0 && (bar->buttons[i].state & TBSTATE_ENABLED) ? TRUE : FALSE;
    }
    case TB_BUTTONCOUNT:
      return bar ? static_cast<LRESULT>(bar->buttons.size()) : 0;
    case SHCMBM_GETSUBMENU: {
      int i = bar ? FindButton(bar, static_cast<WPARAM>(lParam), 0) : -1;
      return i >= 0 ? reinterpret_cast<LRESULT>(bar->buttons[i].popup) : 0;
    }
    case SHCMBM_GETMENU:
      return bar ? reinterpret_cast<LRESULT>(bar->menu) : 0;
    case WM_NCDESTROY:
      if (bar) {
        if (bar->menu && bar->ownsMenu) DestroyMenu(bar->menu);
        S().bars.erase(window);
        delete bar;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

// A string of the program's string table (RT_STRING blocks of 16).
std::u16string LoadResourceString(HINSTANCE instance, WORD id) {
  HRSRC res = FindResourceW(reinterpret_cast<HMODULE>(instance), MAKEINTRESOURCEW((id >> 4) + 1), RT_STRING);
  if (!res) return u"";
  auto* p = static_cast<const BYTE*>(LockResource(LoadResource(reinterpret_cast<HMODULE>(instance), res)));
  size_t size = SizeofResource(reinterpret_cast<HMODULE>(instance), res), at = 0;
  for (int i = 0; i < 16 && at + 2 <= size; ++i) {
    WORD len = static_cast<WORD>(p[at] | (p[at + 1] << 8));
    at += 2;
    if (i == (id & 15)) {
      std::u16string s;
      for (WORD k = 0; k < len && at + 2 * k + 1 < size; ++k)
        s.push_back(static_cast<char16_t>(p[at + 2 * k] | (p[at + 2 * k + 1] << 8)));
      return s;
    }
    at += 2u * len;
  }
  return u"";
}

HMENU LoadMenuResource(HINSTANCE instance, UINT id) {
  HRSRC res = FindResourceW(reinterpret_cast<HMODULE>(instance), MAKEINTRESOURCEW(id), RT_MENU);
  if (!res) return nullptr;
  const void* data = LockResource(LoadResource(reinterpret_cast<HMODULE>(instance), res));
  return qk::shell::LoadMenuTemplate(data, SizeofResource(reinterpret_cast<HMODULE>(instance), res));
}

WORD Word(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }

// Builds the buttons of a bar from its resource; false when it is missing
// or malformed.
bool LoadBar(MenuBar* bar, const SHMENUBARINFO* info) {
  HINSTANCE instance = info->hInstRes;
  if (info->dwFlags & SHCMBF_EMPTYBAR) return true;
  if (info->dwFlags & SHCMBF_HMENU) {
    // A menu resource, or a menu the caller made (its handle in
    // nToolBarId), which stays the caller's.
    bar->menu = info->nToolBarId <= 0xFFFF ? LoadMenuResource(instance, info->nToolBarId) : nullptr;
    if (!bar->menu) {
      HMENU given = reinterpret_cast<HMENU>(static_cast<uintptr_t>(info->nToolBarId));
      if (info->nToolBarId <= 0xFFFF || !IsMenu(given)) return false;
      bar->menu = given;
      bar->ownsMenu = false;
    }
    int n = GetMenuItemCount(bar->menu);
    for (int i = 0; i < n; ++i) {
      Button b;
      WCHAR text[128] = {};
      GetMenuStringW(bar->menu, i, text, 128, MF_BYPOSITION);
      b.text = text;
      b.popup = GetSubMenu(bar->menu, i);
      b.id = b.popup ? 0 : static_cast<int>(GetMenuItemID(bar->menu, i));
      UINT state = GetMenuState(bar->menu, i, MF_BYPOSITION);
      b.state = (state & MF_GRAYED) ? 0 : TBSTATE_ENABLED;
      bar->buttons.push_back(b);
    }
    return true;
  }
  HRSRC res = FindResourceW(reinterpret_cast<HMODULE>(instance), MAKEINTRESOURCEW(info->nToolBarId), RT_RCDATA);
  if (!res) return false;
  auto* p = static_cast<const BYTE*>(LockResource(LoadResource(reinterpret_cast<HMODULE>(instance), res)));
  size_t size = SizeofResource(reinterpret_cast<HMODULE>(instance), res);
  if (!p || size < 4) return false;
  WORD menuId = Word(p), count = Word(p + 2);
  if (size < 4 + static_cast<size_t>(count) * 10) return false;
  if (menuId) {
    bar->menu = LoadMenuResource(instance, menuId);
    if (!bar->menu) return false;
  }
  for (WORD i = 0; i < count; ++i) {
    const BYTE* e = p + 4 + i * 10;
    Button b;
    b.image = static_cast<short>(Word(e));
    b.id = Word(e + 2);
    b.state = e[4];
    b.style = e[5];
    WORD ids = Word(e + 6), sub = Word(e + 8);
    if (ids) b.text = LoadResourceString(instance, ids);
    if (sub != NOMENU) {
      b.popup = bar->menu ? GetSubMenu(bar->menu, sub) : nullptr;
      if (!b.popup) return false;
    }
    bar->buttons.push_back(b);
  }
  return true;
}

// ---------------------------------------------------------------- popups of soft keys

struct PopupState {
  HMENU menu = nullptr;
  std::vector<std::pair<RECT, int>> rows;  // item rectangles and their positions
  int pressed = -1;
  bool done = false;
  UINT chosen = 0;
  HMENU open = nullptr;  // a submenu chosen: it replaces this popup
  bool back = false;     // Left: a submenu gives way to its parent again
  int depth = 0;         // 0 for the soft key's own menu, 1 for its submenus...
};

// Whether the item at a position can be highlighted and chosen.
bool Choosable(HMENU menu, int pos) {
  UINT state = GetMenuState(menu, pos, MF_BYPOSITION);
  return state != static_cast<UINT>(-1) && !(state & (MF_GRAYED | MF_SEPARATOR));
}

// Moves the highlight to the next item that can be chosen, round the ends.
void StepHighlight(PopupState* st, int direction) {
  int n = static_cast<int>(st->rows.size());
  int from = st->pressed < 0 ? (direction > 0 ? -1 : n) : st->pressed;
  for (int k = 1; k <= n; ++k) {
    int pos = ((from + direction * k) % n + n) % n;
    if (Choosable(st->menu, pos)) {
      st->pressed = pos;
      return;
    }
  }
}

// Chooses the item at a position: a submenu opens in the popup's place.
void ChooseItem(PopupState* st, int pos) {
  if (pos < 0 || !Choosable(st->menu, pos)) return;
  if (HMENU sub = GetSubMenu(st->menu, pos))
    st->open = sub;
  else
    st->chosen = GetMenuItemID(st->menu, pos);
  st->done = true;
}

LRESULT CALLBACK PopupProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* st = reinterpret_cast<PopupState*>(GetWindowLongW(window, GWL_USERDATA));
  switch (msg) {
    case WM_CREATE:
      SetWindowLongW(window, GWL_USERDATA,
                     reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT rc;
      GetClientRect(window, &rc);
      Fill(dc, rc, RGB(0x50, 0x58, 0x68));
      InflateRect(&rc, -1, -1);
      Fill(dc, rc, RGB(0xFA, 0xFA, 0xFA));
      HFONT font = BarFont(false);
      HGDIOBJ old = SelectObject(dc, font);
      SetBkMode(dc, TRANSPARENT);
      for (auto& [row, pos] : st->rows) {
        MENUITEMINFOW mi{};
        WCHAR text[128] = {};
        mi.cbSize = sizeof mi;
        mi.fMask = MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_FTYPE | MIIM_STRING;
        mi.dwTypeData = text;
        mi.cch = 128;
        GetMenuItemInfoW(st->menu, pos, TRUE, &mi);
        if (mi.fType & MFT_SEPARATOR) {
          Fill(dc, {row.left + D(4), (row.top + row.bottom) / 2, row.right - D(4), (row.top + row.bottom) / 2 + 1},
               RGB(0xC0, 0xC0, 0xC0));
          continue;
        }
        bool grey = (mi.fState & MFS_GRAYED) != 0;
        if (st->pressed == pos && !grey) Fill(dc, row, qk::gdi::GetScreenConfig().highlight);
        SetTextColor(dc, grey ? RGB(0x90, 0x90, 0x90)
                              : (st->pressed == pos ? RGB(255, 255, 255) : RGB(0x10, 0x10, 0x10)));
        RECT t = row;
        t.left += D(22);
        DrawTextW(dc, text, -1, &t, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
        if (mi.hSubMenu) {
          RECT arrow = row;
          arrow.left = arrow.right - D(20);
          DrawTextW(dc, u"\u25B8", 1, &arrow, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
        }
        if (mi.fState & MFS_CHECKED) {
          RECT c = row;
          c.right = c.left + D(22);
          DrawTextW(dc, u"\u2713", 1, &c, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
        }
      }
      SelectObject(dc, old);
      DeleteObject(font);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP: {
      POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      int at = -1;
      for (auto& [row, pos] : st->rows)
        if (PtInRect(&row, pt)) at = pos;
      if (msg == WM_LBUTTONDOWN) {
        if (at < 0) {
          st->done = true;  // a tap elsewhere closes the menu
          return 0;
        }
        st->pressed = at;
        InvalidateRect(window, nullptr, TRUE);
        return 0;
      }
      if (at >= 0 && at == st->pressed) ChooseItem(st, at);
      st->pressed = -1;
      InvalidateRect(window, nullptr, TRUE);
      return 0;
    }
    case WM_KEYDOWN:
      // The keys work the menu while it is open (ShowPopup hands them here):
      // Up and Down move the highlight, Enter chooses, Right opens a
      // submenu, Left goes back from one, Back or Escape closes.
      switch (wParam) {
        case VK_ESCAPE:
        case VK_BACK:
          st->done = true;
          break;
        case VK_UP:
        case VK_DOWN:
          StepHighlight(st, wParam == VK_DOWN ? 1 : -1);
          InvalidateRect(window, nullptr, TRUE);
          break;
        case VK_RETURN:
          ChooseItem(st, st->pressed);
          break;
        case VK_RIGHT:
          if (st->pressed >= 0 && GetSubMenu(st->menu, st->pressed)) ChooseItem(st, st->pressed);
          break;
        case VK_LEFT:
          if (st->depth > 0) {
            st->back = true;
            st->done = true;
          }
          break;
        default:
          break;
      }
      return 0;
    case WM_CANCELMODE:
    case WM_CAPTURECHANGED:
      st->done = true;
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

UINT ShowPopup(HWND owner, HMENU popup, const RECT& key, int depth, bool* back) {
  if (S().popupHandler) return S().popupHandler(owner, popup, key);
  if (depth > 8) return 0;
  int n = GetMenuItemCount(popup);
  if (n <= 0) return 0;
  RegisterClasses();
  PopupState st;
  st.menu = popup;
  st.depth = depth;
  int rowH = D(26), sepH = D(9), width = D(120), height = 2;
  HDC measure = CreateCompatibleDC(nullptr);
  HFONT font = BarFont(false);
  HGDIOBJ old = SelectObject(measure, font);
  for (int i = 0; i < n; ++i) {
    WCHAR text[128] = {};
    GetMenuStringW(popup, i, text, 128, MF_BYPOSITION);
    SIZE sz{};
    GetTextExtentPoint32W(measure, text, static_cast<int>(wcslen(text)), &sz);
    width = std::max<int>(width, sz.cx + D(36));
    height += (GetMenuState(popup, i, MF_BYPOSITION) & MF_SEPARATOR) ? sepH : rowH;
  }
  SelectObject(measure, old);
  DeleteObject(font);
  DeleteDC(measure);
  width = std::min(width, ScreenW());
  height = std::min(height, key.top);
  int y = 1;
  for (int i = 0; i < n; ++i) {
    int h = (GetMenuState(popup, i, MF_BYPOSITION) & MF_SEPARATOR) ? sepH : rowH;
    st.rows.push_back({{1, y, width - 1, y + h}, i});
    y += h;
  }
  int x = key.left + width <= ScreenW() ? key.left : key.right - width;
  int left = std::max(0, x);
  HWND window = CreateShellWindow(kPopupClass, {left, key.top - height, left + width, key.top}, owner, &st);
  if (!window) return 0;
  ShowWindow(window, SW_SHOWNA);  // the owner stays active
  SetCapture(window);
  UpdateWindow(window);
  // The menu takes the keys while it is open: they would otherwise go to
  // the focus window beneath it.
  MSG msg;
  while (!st.done && IsWindow(window)) {
    if (!GetMessageW(&msg, nullptr, 0, 0)) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (owner && !IsWindow(owner)) break;
    if (msg.message == WM_KEYDOWN || msg.message == WM_KEYUP || msg.message == WM_CHAR) {
      msg.hwnd = window;
      DispatchMessageW(&msg);
      continue;
    }
    if (qk::PreTranslate(&msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (GetCapture() == window) ReleaseCapture();
  if (IsWindow(window)) {
    SetWindowLongW(window, GWL_USERDATA, 0);
    DestroyWindow(window);
  }
  if (back) *back = st.back;
  if (st.open && IsWindow(owner)) {
    // A submenu opens in the popup's place, over the same key; Left there
    // shows this menu again.
    SendMessageW(owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(st.open), 0);
    bool left = false;
    UINT chosen = ShowPopup(owner, st.open, key, depth + 1, &left);
    if (!left) return chosen;
    SendMessageW(owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), 0);
    return ShowPopup(owner, popup, key, depth, back);
  }
  return st.chosen;
}

// ---------------------------------------------------------------- SIPPREF

bool Typeable(HWND window) {
  if (!window || !IsWindow(window) || !IsWindowEnabled(window)) return false;
  WCHAR cls[32] = {};
  GetClassNameW(window, cls, 32);
  return _wcsicmp(cls, u"EDIT") == 0 && !(GetWindowLongW(window, GWL_STYLE) & ES_READONLY);
}

LRESULT CALLBACK SipEditProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto it = S().sipEdits.find(window);
  if (it == S().sipEdits.end()) return DefWindowProcW(window, msg, wParam, lParam);
  WNDPROC old = it->second.first;
  HWND pref = it->second.second;
  if (msg == WM_SETFOCUS || msg == WM_KILLFOCUS) PostMessageW(pref, kSipPrefCheck, 0, 0);
  if (msg == WM_NCDESTROY) S().sipEdits.erase(it);
  return CallWindowProcW(old, window, msg, wParam, lParam);
}

LRESULT CALLBACK SipPrefProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
      PostMessageW(window, kSipPrefScan, 0, 0);
      return 0;
    case kSipPrefScan: {
      HWND parent = GetParent(window);
      for (HWND child = parent ? GetWindow(parent, GW_CHILD) : nullptr; child; child = GetWindow(child, GW_HWNDNEXT)) {
        WCHAR cls[32] = {};
        GetClassNameW(child, cls, 32);
        if (_wcsicmp(cls, u"EDIT") != 0 || S().sipEdits.count(child)) continue;
        auto old = reinterpret_cast<WNDPROC>(GetWindowLongW(child, GWL_WNDPROC));
        S().sipEdits[child] = {old, window};
        SetWindowLongW(child, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&SipEditProc));
      }
      [[fallthrough]];
    }
    case kSipPrefCheck: {
      HWND focus = GetFocus();
      auto it = S().sipEdits.find(focus);
      bool ours = it != S().sipEdits.end() && it->second.second == window;
      if (ours && Typeable(focus)) SipShowIM(SIPF_ON);
      else if (!focus || GetParent(focus) == GetParent(window) || focus == GetParent(window)) SipShowIM(SIPF_OFF);
      return 0;
    }
    case WM_DESTROY: {
      for (auto it = S().sipEdits.begin(); it != S().sipEdits.end();) {
        if (it->second.second == window) {
          if (IsWindow(it->first) &&
              GetWindowLongW(it->first, GWL_WNDPROC) == reinterpret_cast<LONG_PTR>(&SipEditProc))
            SetWindowLongW(it->first, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(it->second.first));
          it = S().sipEdits.erase(it);
        } else {
          ++it;
        }
      }
      // A dialog that closes while its edit has the panel up (the check
      // its edit's loss of focus asked for comes too late for this window):
      // the panel goes down unless the focus went to another such edit.
      HWND focus = GetFocus();
      if (!S().sipEdits.count(focus) || !Typeable(focus)) SipShowIM(SIPF_OFF);
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

void RegisterClasses() {
  static bool done = false;
  if (done) return;
  struct {
    const char16_t* name;
    WNDPROC proc;
  } classes[] = {{kTaskBarClass, TaskBarProc},
                 {kMenuBarClass, MenuBarProc},
                 {kSipClass, SipProc},
                 {kPopupClass, PopupProc},
                 {WC_SIPPREF, SipPrefProc}};
  for (auto& c : classes) {
    WNDCLASSW wc{};
    if (GetClassInfoW(nullptr, c.name, &wc)) continue;
    wc.style = CS_GLOBALCLASS;
    wc.lpfnWndProc = c.proc;
    wc.lpszClassName = c.name;
    RegisterClassW(&wc);
  }
  done = true;
}

}  // namespace

// ---------------------------------------------------------------- public calls

BOOL SHInitExtraControls() {
  RegisterClasses();
  EnsureTaskBar();  // "HHTaskBar" is there for the program to find
  return TRUE;
}

BOOL SHCreateMenuBar(SHMENUBARINFO* info) {
  if (!info || !info->hwndParent || !IsWindow(info->hwndParent)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  RegisterClasses();
  EnsureTaskBar();
  auto bar = std::make_unique<MenuBar>();
  if (!LoadBar(bar.get(), info)) {
    if (bar->menu && bar->ownsMenu) DestroyMenu(bar->menu);
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return FALSE;
  }
  bar->owner = info->hwndParent;
  auto hidden = S().sipButtonHidden.find(info->hwndParent);
  bar->sipButton = !(info->dwFlags & SHCMBF_HIDESIPBUTTON) &&
                   !(hidden != S().sipButtonHidden.end() && hidden->second);
  bar->hasBackground = (info->dwFlags & SHCMBF_COLORBK) != 0;
  bar->background = info->clrBk;
  RECT rc = MenuBarRect();
  // The bar's state is found by its window from WM_CREATE on.
  MenuBar* raw = bar.release();
  HWND hwnd = CreateShellWindow(kMenuBarClass, rc, info->hwndParent);
  if (!hwnd) {
    if (raw->menu && raw->ownsMenu) DestroyMenu(raw->menu);
    delete raw;
    return FALSE;
  }
  raw->hwnd = hwnd;
  S().bars[hwnd] = raw;
  if (!(info->dwFlags & SHCMBF_HIDDEN)) ShowWindow(hwnd, SW_SHOWNA);
  NoteClient(info->hwndParent);
  info->hwndMB = hwnd;
  return TRUE;
}

HWND SHFindMenuBar(HWND window) {
  if (!window) return nullptr;
  for (auto& [hwnd, bar] : S().bars)
    if (bar->owner == window && IsWindow(hwnd)) return hwnd;
  return nullptr;
}

BOOL DrawMenuBar(HWND window) {
  HWND bar = BarOf(window) ? window : SHFindMenuBar(window);
  if (!bar) return FALSE;
  InvalidateRect(bar, nullptr, TRUE);
  return TRUE;
}

BOOL SHFullScreen(HWND window, DWORD state) {
  if (!window || !IsWindow(window)) return FALSE;
  EnsureTaskBar();
  State& s = S();
  if (state & (SHFS_HIDETASKBAR | SHFS_SHOWTASKBAR)) {
    s.taskBarHidden = (state & SHFS_HIDETASKBAR) != 0;
    if (s.taskBar) ShowWindow(s.taskBar, s.taskBarHidden ? SW_HIDE : SW_SHOWNA);
  }
  if (state & (SHFS_HIDESIPBUTTON | SHFS_SHOWSIPBUTTON)) {
    bool hide = (state & SHFS_HIDESIPBUTTON) != 0;
    s.sipButtonHidden[window] = hide;
    if (MenuBar* bar = BarOf(SHFindMenuBar(window))) {
      bar->sipButton = !hide;
      InvalidateRect(bar->hwnd, nullptr, TRUE);
    }
  }
  if (state & (SHFS_HIDESTARTICON | SHFS_SHOWSTARTICON)) {
    s.startIconHidden = (state & SHFS_HIDESTARTICON) != 0;
    RepaintTaskBar();
  }
  NoteClient(window);
  return TRUE;
}

BOOL SHInitDialog(PSHINITDLGINFO info) {
  if (!info || !(info->dwMask & SHIDIM_FLAGS) || !info->hDlg || !IsWindow(info->hDlg)) return FALSE;
  EnsureTaskBar();
  HWND dlg = info->hDlg;
  DWORD flags = info->dwFlags;
  if (!S().dialogThread) {
    S().dialogThread = GetCurrentThreadId();
    qk::SetDestroyHook(ForgetWindow);
  }
  if (flags & SHIDIF_SIPDOWN) SipShowIM(SIPF_OFF);
  int top = TaskBarShown() ? D(qk::shell::kBarHeight) : 0;
  RECT rc{};
  bool size = true;
  if (flags & SHIDIF_FULLSCREENNOMENUBAR) rc = {0, top, ScreenW(), ScreenH()};
  else if (flags & SHIDIF_SIZEDLGFULLSCREEN) rc = {0, top, ScreenW(), ScreenH() - D(qk::shell::kBarHeight)};
  else if (flags & SHIDIF_SIZEDLG) rc = qk::shell::VisibleDesktop();
  else size = false;
  if (size) {
    if (GetWindowLongW(dlg, GWL_STYLE) & WS_CHILD) {
      POINT tl{rc.left, rc.top};
      ScreenToClient(GetParent(dlg), &tl);
      OffsetRect(&rc, tl.x - rc.left, tl.y - rc.top);
    }
    MoveWindow(dlg, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, TRUE);
    S().sized[dlg] = flags;
  }
  if (flags & SHIDIF_DONEBUTTON) {
    auto& done = S().doneWindows;
    done.erase(std::remove(done.begin(), done.end(), dlg), done.end());
    done.push_back(dlg);
  }
  NoteClient(dlg);
  RepaintTaskBar();
  return TRUE;
}

BOOL SHHandleWMActivate(HWND window, WPARAM wParam, LPARAM, SHACTIVATEINFO* info, DWORD) {
  if (!window || !IsWindow(window)) return FALSE;
  NoteClient(window);
  // While a window is inactive its panel state is what it was when it was
  // deactivated (fReserved bit 0 marks that); activation brings it back.
  if (LOWORD(wParam) == WA_INACTIVE) {
    if (info) {
      info->fSipUp = S().sipUp ? 1 : 0;
      info->fSipOnDeactivation = info->fSipUp;
      info->fActive = 0;
      info->fReserved |= 1;
    }
  } else if (info) {
    info->fActive = 1;
    info->fReserved &= ~1u;
    if ((info->fSipUp != 0) != S().sipUp) SipShowIM(info->fSipUp ? SIPF_ON : SIPF_OFF);
  }
  RepaintTaskBar();
  return TRUE;
}

BOOL SHHandleWMSettingChange(HWND window, WPARAM wParam, LPARAM, SHACTIVATEINFO* info) {
  if (!window || !IsWindow(window)) return FALSE;
  if (wParam != SPI_SETSIPINFO) return TRUE;
  if (info && !(info->fReserved & 1)) info->fSipUp = S().sipUp ? 1 : 0;
  auto sized = S().sized.find(window);
  if ((sized != S().sized.end() && (sized->second & SHIDIF_FULLSCREENNOMENUBAR)) ||
      (GetWindowLongW(window, GWL_STYLE) & WS_CHILD))
    return TRUE;
  RECT rc;
  GetWindowRect(window, &rc);
  RECT visible = qk::shell::VisibleDesktop();
  int bottom = visible.bottom;
  if (bottom > rc.top) MoveWindow(window, rc.left, rc.top, rc.right - rc.left, bottom - rc.top, TRUE);
  return TRUE;
}

BOOL SipShowIM(DWORD flags) {
  bool up = (flags & SIPF_ON) != 0;
  State& s = S();
  ++s.lowerGeneration;  // any choice cancels a pending deferred lowering
  if (up == s.sipUp) return TRUE;
  HWND sip = EnsureSip();
  if (!sip) return FALSE;
  s.sipUp = up;
  ShowWindow(sip, up ? SW_SHOWNA : SW_HIDE);
  RepaintBars();
  TellClients(SPI_SETSIPINFO);
  return TRUE;
}

bool qk::shell::SipKeyRect(const std::u16string& label, RECT* screen) {
  HWND sip = S().sip;
  if (!S().sipUp || !sip || !IsWindow(sip)) return false;
  RECT rc;
  GetClientRect(sip, &rc);
  for (auto& [key, k] : KeyRects(rc))
    if (k.label == label) {
      POINT a{key.left, key.top}, b{key.right, key.bottom};
      ClientToScreen(sip, &a);
      ClientToScreen(sip, &b);
      if (screen) *screen = {a.x, a.y, b.x, b.y};
      return true;
    }
  return false;
}

BOOL SipGetInfo(SIPINFO* info) {
  if (!info) return FALSE;
  info->fdwFlags = (S().sipUp ? SIPF_ON : SIPF_OFF) | SIPF_DOCKED;
  info->rcVisibleDesktop = qk::shell::VisibleDesktop();
  info->rcSipRect = SipRect();
  info->dwImDataSize = 0;
  info->pvImData = nullptr;
  return TRUE;
}

BOOL SHSipPreference(HWND window, SIPSTATE state) {
  if (window && !IsWindow(window)) return FALSE;
  switch (state) {
    case SIP_UP:
    case SIP_INPUTDIALOG:
      return SipShowIM(SIPF_ON);
    case SIP_FORCEDOWN:
      return SipShowIM(SIPF_OFF);
    case SIP_DOWN: {
      // Lowered once the thread's messages are handled, unless the focus's
      // new owner raises it again meanwhile.
      HWND sip = EnsureSip();
      DWORD generation = ++S().lowerGeneration;
      return sip && PostMessageW(sip, kSipLowerLater, generation, 0);
    }
    case SIP_UNCHANGED:
    default:
      return TRUE;
  }
}

namespace qk::shell {

RECT VisibleDesktop() {
  RECT rc{0, TaskBarShown() ? D(kBarHeight) : 0, ScreenW(), ScreenH() - D(kBarHeight)};
  if (S().sipUp) rc.bottom = SipRect().top;
  return rc;
}

bool TaskBarVisible() { return TaskBarShown(); }
bool SipUp() { return S().sipUp; }
HWND SipWindow() { return EnsureSip(); }
HWND TaskBarWindow() { return EnsureTaskBar(); }

bool PressSoftKey(int key) {
  HWND active = GetActiveWindow();
  if (!active) active = GetForegroundWindow();
  for (HWND w = active; w; w = GetParent(w)) {
    MenuBar* bar = BarOf(SHFindMenuBar(w));
    if (!bar) continue;
    // The soft keys are the first and the last slot.
    int index = key == 1 ? 0 : static_cast<int>(bar->buttons.size()) - 1;
    if (index < 0 || (key == 2 && bar->buttons.size() < 2)) return false;
    const Button& b = bar->buttons[index];
    if (!(b.state & TBSTATE_ENABLED) || (b.state & TBSTATE_HIDDEN)) return false;
    Fire(bar, index);
    return true;
  }
  return false;
}

void SetSoftKeyPopupHandler(PopupHandler handler) { S().popupHandler = std::move(handler); }

void ResetShell() {
  State& s = S();
  std::vector<HWND> windows;
  for (auto& [hwnd, bar] : s.bars) windows.push_back(hwnd);
  for (HWND w : windows)
    if (IsWindow(w)) DestroyWindow(w);
  if (s.sip && IsWindow(s.sip)) DestroyWindow(s.sip);
  if (s.taskBar && IsWindow(s.taskBar)) DestroyWindow(s.taskBar);
  PopupHandler none;
  s.popupHandler.swap(none);
  for (auto& [hwnd, bar] : s.bars) delete bar;
  s.bars.clear();
  s.clients.clear();
  s.sized.clear();
  s.sipButtonHidden.clear();
  s.doneWindows.clear();
  s.dialogThread = 0;
  s.sipEdits.clear();
  s.taskBar = s.sip = nullptr;
  s.taskBarHidden = s.startIconHidden = s.sipUp = s.sipSymbols = s.sipShift = false;
}

// ---------------------------------------------------------------- menu templates

namespace {
void PutWord(std::vector<BYTE>& out, WORD w) {
  out.push_back(static_cast<BYTE>(w & 0xFF));
  out.push_back(static_cast<BYTE>(w >> 8));
}
void PutItems(std::vector<BYTE>& out, const std::vector<MenuItem>& items) {
  for (size_t i = 0; i < items.size(); ++i) {
    const MenuItem& m = items[i];
    WORD flags = static_cast<WORD>(m.flags & (MF_GRAYED | MF_CHECKED));
    if (!m.popup.empty()) flags |= MF_POPUP;
    if (i + 1 == items.size()) flags |= 0x80;  // the last item of its level
    PutWord(out, flags);
    if (m.popup.empty()) PutWord(out, static_cast<WORD>(m.id));
    for (char16_t c : m.text) PutWord(out, c);
    PutWord(out, 0);
    if (!m.popup.empty()) PutItems(out, m.popup);
  }
}
// Reads the items of one level; false on malformed data.
bool ReadItems(const BYTE* p, size_t size, size_t* at, HMENU menu, int depth) {
  if (depth > 8) return false;
  for (;;) {
    if (*at + 2 > size) return false;
    WORD flags = Word(p + *at);
    *at += 2;
    WORD id = 0;
    if (!(flags & MF_POPUP)) {
      if (*at + 2 > size) return false;
      id = Word(p + *at);
      *at += 2;
    }
    std::u16string text;
    for (;;) {
      if (*at + 2 > size) return false;
      WORD c = Word(p + *at);
      *at += 2;
      if (!c) break;
      text.push_back(static_cast<char16_t>(c));
    }
    UINT state = flags & (MF_GRAYED | MF_CHECKED);
    if (flags & MF_POPUP) {
      HMENU sub = CreatePopupMenu();
      if (!ReadItems(p, size, at, sub, depth + 1)) {
        DestroyMenu(sub);
        return false;
      }
      AppendMenuW(menu, MF_POPUP | state, reinterpret_cast<UINT_PTR>(sub), text.c_str());
    } else if (id == 0 && text.empty()) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    } else {
      AppendMenuW(menu, MF_STRING | state, id, text.c_str());
    }
    if (flags & 0x80) return true;
  }
}
}  // namespace

std::vector<BYTE> BuildMenuTemplate(const std::vector<MenuItem>& items) {
  std::vector<BYTE> out;
  PutWord(out, 0);  // version
  PutWord(out, 0);  // header size
  PutItems(out, items);
  return out;
}

HMENU LoadMenuTemplate(const void* data, size_t size) {
  auto* p = static_cast<const BYTE*>(data);
  if (!p || size < 4) return nullptr;
  size_t at = 4 + Word(p + 2);
  HMENU menu = CreateMenu();
  if (size <= at || !ReadItems(p, size, &at, menu, 0)) {
    DestroyMenu(menu);
    return nullptr;
  }
  return menu;
}

std::vector<BYTE> BuildMenuBarResource(WORD menuId, const std::vector<MenuBarButton>& buttons) {
  std::vector<BYTE> out;
  PutWord(out, menuId);
  PutWord(out, static_cast<WORD>(buttons.size()));
  for (const MenuBarButton& b : buttons) {
    PutWord(out, static_cast<WORD>(I_IMAGENONE));
    PutWord(out, static_cast<WORD>(b.command));
    out.push_back(b.state);
    out.push_back(b.style);
    PutWord(out, b.stringId);
    PutWord(out, b.subMenu);
  }
  return out;
}

}  // namespace qk::shell
