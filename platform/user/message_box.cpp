// Message boxes drawn on the device screen (see MessageBoxW in user/user.h).
//
// A box is a modal dialog of the platform's own controls: its caption drawn
// in a bar at the top, the text in a word-wrapped static and one push
// button per answer. It stands over its owner, whose top-level window takes
// no input while the box shows (the dialog box's modal loop disables it),
// and is sized from the screen: the full width less a margin, as tall as
// its text needs.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "controls/commctrl.h"
#include "gdi/gdi.h"
#include "gdi/surface.h"
#include "user/dialog.h"
#include "user/input.h"
#include "user/internal.h"

namespace qk::user {
namespace {

std::atomic<bool> g_shown{false};
// The boxes showing now, on whatever thread: the program's end closes them
// all, so a box a worker thread shows never holds the end up.
std::mutex g_openLock;
std::set<HWND> g_open;

constexpr int kMessageTextId = 0xFFFF;

// The buttons of a box's type, left to right.
std::vector<int> Buttons(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
      return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
      return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
      return {IDYES, IDNO};
    case MB_RETRYCANCEL:
      return {IDRETRY, IDCANCEL};
    default:
      return {IDOK};
  }
}

// Which button MB_DEFBUTTONn names (the first when it names none there is).
size_t DefaultIndex(UINT type, size_t count) {
  size_t def = (type & MB_DEFMASK) >> 8;
  return def < count ? def : 0;
}

// What Back (Escape), closing the box or the program's end answer: Cancel,
// else No, else the box's only or safest answer (OK; Abort).
int CancelAnswer(UINT type) {
  std::vector<int> buttons = Buttons(type);
  for (int id : {IDCANCEL, IDNO, IDABORT})
    if (std::find(buttons.begin(), buttons.end(), id) != buttons.end()) return id;
  return IDOK;
}

const char16_t* Label(int id) {
  switch (id) {
    case IDCANCEL: return u"Cancel";
    case IDABORT: return u"Abort";
    case IDRETRY: return u"Retry";
    case IDIGNORE: return u"Ignore";
    case IDYES: return u"Yes";
    case IDNO: return u"No";
    default: return u"OK";
  }
}

int Scaled(int lengthAt96Dpi) { return lengthAt96Dpi * qk::gdi::ScreenDpi() / 96; }

struct Box {
  UINT type = 0;
  std::u16string text, caption;
  HWND owner = nullptr;
  std::vector<int> buttons;
  HFONT captionFont = nullptr;
  int captionHeight = 0;
  HWND focus = nullptr;  // the button the keys are on
};

// Lays the box out on the screen and makes its controls.
void Build(HWND dialog, Box& box) {
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  const int margin = Scaled(8), pad = Scaled(6), gap = Scaled(6);
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  const int line = std::max<int>(tm.tmHeight, 8);
  const int width = std::max(sw - 2 * margin, Scaled(100));
  RECT text{0, 0, width - 2 * pad, 0};
  DrawTextW(dc, box.text.c_str(), static_cast<int>(box.text.size()), &text,
            DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  box.captionHeight = box.caption.empty() ? 0 : line + 2 * Scaled(4);
  const int buttonHeight = line + Scaled(10);
  // A text too long for the screen is cut at the screen's height.
  const int fixed = box.captionHeight + 3 * pad + buttonHeight;
  const int textHeight = std::clamp<int>(text.bottom - text.top, line, std::max(line, sh - 2 * margin - fixed));
  const int height = fixed + textHeight;
  // Over the owner's window, within the screen.
  RECT over{0, 0, sw, sh};
  HWND top = box.owner;
  while (top && (GetWindowLongW(top, GWL_STYLE) & WS_CHILD)) top = GetParent(top);
  if (top && IsWindow(top)) GetWindowRect(top, &over);
  int y = over.top + (over.bottom - over.top - height) / 2;
  y = std::max(0, std::min(y, sh - height));
  MoveWindow(dialog, (sw - width) / 2, y, width, height, FALSE);

  LOGFONTW bold{};
  GetObjectW(font, sizeof bold, &bold);
  bold.lfWeight = FW_BOLD;
  box.captionFont = CreateFontIndirectW(&bold);

  HWND label = CreateWindowExW(0, u"STATIC", box.text.c_str(), WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, pad,
                               box.captionHeight + pad, width - 2 * pad, textHeight, dialog,
                               reinterpret_cast<HMENU>(static_cast<uintptr_t>(kMessageTextId)), nullptr, nullptr);
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
  // The buttons share the row, centred, each at most a comfortable width.
  const int n = static_cast<int>(box.buttons.size());
  const int buttonWidth = std::min(Scaled(76), (width - 2 * pad - (n - 1) * gap) / n);
  int x = (width - (n * buttonWidth + (n - 1) * gap)) / 2;
  const size_t def = DefaultIndex(box.type, box.buttons.size());
  for (int i = 0; i < n; ++i) {
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_NOTIFY |
                  (static_cast<size_t>(i) == def ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | (i == 0 ? WS_GROUP : 0);
    HWND button = CreateWindowExW(0, u"BUTTON", Label(box.buttons[i]), style, x, height - pad - buttonHeight,
                                  buttonWidth, buttonHeight, dialog,
                                  reinterpret_cast<HMENU>(static_cast<uintptr_t>(box.buttons[i])), nullptr, nullptr);
    SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
    if (static_cast<size_t>(i) == def) box.focus = button;
    x += buttonWidth + gap;
  }
}

void Paint(HWND dialog, const Box& box) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(dialog, &ps);
  if (dc) {
    RECT r;
    GetClientRect(dialog, &r);
    FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOW));
    if (box.captionHeight) {
      RECT bar{0, 0, r.right, box.captionHeight};
      FillRect(dc, &bar, GetSysColorBrush(COLOR_HIGHLIGHT));
      HGDIOBJ old = SelectObject(dc, box.captionFont ? static_cast<HGDIOBJ>(box.captionFont)
                                                     : GetStockObject(DEFAULT_GUI_FONT));
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
      RECT text = bar;
      InflateRect(&text, -Scaled(6), 0);
      DrawTextW(dc, box.caption.c_str(), static_cast<int>(box.caption.size()), &text,
                DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_END_ELLIPSIS | DT_NOPREFIX);
      SelectObject(dc, old);
    }
    // The frame sets the box off from the page under it.
    const int line = std::max(1, Scaled(1));
    HBRUSH frame = GetSysColorBrush(COLOR_WINDOWFRAME);
    RECT edges[] = {{0, 0, r.right, line},
                    {0, r.bottom - line, r.right, r.bottom},
                    {0, 0, line, r.bottom},
                    {r.right - line, 0, r.right, r.bottom}};
    for (RECT& e : edges) FillRect(dc, &e, frame);
  }
  EndPaint(dialog, &ps);
}

// The focused button is the one Enter presses: it carries the default look.
void MarkDefault(HWND dialog, HWND focus) {
  for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (GetDlgCtrlID(c) == kMessageTextId) continue;
    SendMessageW(c, BM_SETSTYLE, (c == focus ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | BS_NOTIFY, TRUE);
  }
}

INT_PTR CALLBACK BoxProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  Box* box = reinterpret_cast<Box*>(GetWindowLongW(dialog, GWL_USERDATA));
  switch (msg) {
    case WM_INITDIALOG:
      box = reinterpret_cast<Box*>(lParam);
      SetWindowLongW(dialog, GWL_USERDATA, lParam);
      Build(dialog, *box);
      {
        std::lock_guard<std::mutex> lock(g_openLock);
        g_open.insert(dialog);
      }
      // An end asked for while the box was made closes it too.
      if (qk::ProgramEndRequested()) PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      return FALSE;  // the focus goes to the default button when the box is activated
    case WM_DESTROY: {
      std::lock_guard<std::mutex> lock(g_openLock);
      g_open.erase(dialog);
      return FALSE;
    }
    case WM_ERASEBKGND:
      SetWindowLongW(dialog, DWL_MSGRESULT, 1);
      return TRUE;
    case WM_PAINT:
      if (!box) return FALSE;
      Paint(dialog, *box);
      return TRUE;
    case WM_ACTIVATE:
      if (!box) return FALSE;
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(dialog, focus)) box->focus = focus;
      } else if (box->focus && IsWindow(box->focus)) {
        SetFocus(box->focus);
      }
      return TRUE;
    case WM_COMMAND: {
      if (!box) return FALSE;
      const int id = LOWORD(wParam);
      if (HIWORD(wParam) == BN_SETFOCUS) {
        box->focus = reinterpret_cast<HWND>(lParam);
        MarkDefault(dialog, box->focus);
        return TRUE;
      }
      if (HIWORD(wParam) != BN_CLICKED) return TRUE;
      if (std::find(box->buttons.begin(), box->buttons.end(), id) != box->buttons.end())
        EndDialog(dialog, id);
      else if (id == IDCANCEL)  // Back, or the box closed
        EndDialog(dialog, CancelAnswer(box->type));
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

int DefaultMessageBoxAnswer(UINT type) {
  std::vector<int> buttons = Buttons(type);
  return buttons[DefaultIndex(type, buttons.size())];
}

bool MessageBoxesShown() { return g_shown.load(); }

void EndShownMessageBoxes() {
  std::lock_guard<std::mutex> lock(g_openLock);
  for (HWND box : g_open) PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

int ShowMessageBox(HWND owner, const std::u16string& text, const std::u16string& caption, UINT type) {
  // Once the program ends, nobody is asked anything more.
  if (qk::ProgramEndRequested()) return CancelAnswer(type);
  Box box;
  box.type = type;
  box.text = text;
  box.caption = caption;
  box.owner = owner && IsWindow(owner) ? owner : nullptr;
  box.buttons = Buttons(type);
  // An empty template: the box lays its controls out itself, in pixels.
  std::vector<DWORD> bytes = qk::DialogTemplateBuilder(WS_POPUP | DS_MODALFRAME, 0, 0, 0, 0, 0, caption).Build();
  INT_PTR result = DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), box.owner,
                                           BoxProc, reinterpret_cast<LPARAM>(&box));
  if (box.captionFont) DeleteObject(box.captionFont);
  // A box that could not be made answers as its default; one that the
  // program's end (or its owner's going) ended answers as cancelled.
  if (result < 0) return DefaultMessageBoxAnswer(type);
  if (std::find(box.buttons.begin(), box.buttons.end(), static_cast<int>(result)) == box.buttons.end())
    return CancelAnswer(type);
  return static_cast<int>(result);
}

}  // namespace qk::user

namespace qk {

void SetMessageBoxesShown(bool shown) { user::g_shown = shown; }

}  // namespace qk

