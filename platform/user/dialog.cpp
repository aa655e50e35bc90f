// Dialogs from templates (see user/dialog.h).
#include "user/dialog.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "gdi/gdi.h"
#include "gdi/surface.h"
#include "kernel/resource.h"
#include "kernel/wstring.h"
#include "user/input.h"
#include "user/internal.h"

namespace {

bool IsButtonClass(HWND hwnd);

std::mutex g_lock;
// The dialog base units; 0 until set: then they follow the screen's
// density, 12 x 26 at 192 dots per inch (6 x 13 at 96), so that a template
// takes the same part of the screen on every device.
int g_baseX = 0, g_baseY = 0;

// The base units in use; called with g_lock held.
void BaseUnits(int* x, int* y) {
  const int dpi = qk::gdi::ScreenDpi();
  *x = g_baseX ? g_baseX : std::max(1, (12 * dpi + 96) / 192);
  *y = g_baseY ? g_baseY : std::max(1, (26 * dpi + 96) / 192);
}

struct DialogState {
  bool modal = false;
  bool ended = false;
  INT_PTR result = 0;
  HWND owner = nullptr;        // a modal dialog's owner, disabled while it runs
  bool ownerDisabled = false;  // the dialog disabled it and gives it back
  int defId = 0;               // DM_SETDEFID; 0 for the template's default button
  HWND savedFocus = nullptr;   // the control that had the focus at deactivation
};
std::map<HWND, DialogState> g_dialogs;

void RegisterDialogClass() { qk::user::RegisterDialogClasses(); }

// Reads templates of both layouts.
class Reader {
 public:
  Reader(const uint8_t* base, size_t size) : base_(base), size_(size) {}
  bool ok() const { return ok_; }
  WORD Word() {
    WORD v = 0;
    Take(&v, 2);
    return v;
  }
  DWORD Dword() {
    DWORD v = 0;
    Take(&v, 4);
    return v;
  }
  short Short() { return static_cast<short>(Word()); }
  BYTE Byte() {
    BYTE v = 0;
    Take(&v, 1);
    return v;
  }
  // A name or an ordinal; ordinals are returned as "#<n>".
  std::u16string NameOrOrdinal(WORD* ordinal = nullptr) {
    WORD first = Word();
    if (ordinal) *ordinal = 0;
    if (first == 0) return std::u16string();
    if (first == 0xFFFF) {
      WORD n = Word();
      if (ordinal) *ordinal = n;
      return u"#" + qk::FromUtf8(std::to_string(n));
    }
    std::u16string s(1, static_cast<char16_t>(first));
    for (WORD c = Word(); ok_ && c != 0; c = Word()) s += static_cast<char16_t>(c);
    return s;
  }
  void AlignDword() { pos_ = (pos_ + 3) & ~static_cast<size_t>(3); }
  void Skip(size_t n) { pos_ += n; }

 private:
  void Take(void* out, size_t n) {
    if (!ok_ || pos_ + n > size_) {
      ok_ = false;
      return;
    }
    std::memcpy(out, base_ + pos_, n);
    pos_ += n;
  }
  const uint8_t* base_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

struct ItemTemplate {
  DWORD style = 0, exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  DWORD id = 0;
  std::u16string className, title;
  WORD classOrdinal = 0;
  std::vector<uint8_t> extra;
};

struct ParsedTemplate {
  DWORD style = 0, exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::u16string menu, className, title, face;
  WORD points = 0;
  std::vector<ItemTemplate> items;
};

const char16_t* OrdinalClass(WORD ordinal) {
  switch (ordinal) {
    case 0x80:
      return u"BUTTON";
    case 0x81:
      return u"EDIT";
    case 0x82:
      return u"STATIC";
    case 0x83:
      return u"LISTBOX";
    case 0x84:
      return u"SCROLLBAR";
    case 0x85:
      return u"COMBOBOX";
    default:
      return nullptr;
  }
}

// The bytes of a template are not sized by the caller of the in-memory
// functions; the reader is bounded generously and templates are checked
// as they are read.
constexpr size_t kUnknownSize = 1 << 20;

bool Parse(const void* bytes, size_t size, ParsedTemplate* t) {
  Reader r(static_cast<const uint8_t*>(bytes), size);
  WORD first = r.Word();
  WORD second = r.Word();
  bool extended = first == 1 && second == 0xFFFF;
  WORD count;
  if (extended) {
    r.Dword();  // help id
    t->exStyle = r.Dword();
    t->style = r.Dword();
  } else {
    t->style = static_cast<DWORD>(first) | (static_cast<DWORD>(second) << 16);
    t->exStyle = r.Dword();
  }
  count = r.Word();
  t->x = r.Short();
  t->y = r.Short();
  t->cx = r.Short();
  t->cy = r.Short();
  t->menu = r.NameOrOrdinal();
  t->className = r.NameOrOrdinal();
  t->title = r.NameOrOrdinal();
  if (t->style & DS_SETFONT) {
    t->points = r.Word();
    if (extended) {
      r.Word();  // weight
      r.Byte();  // italic
      r.Byte();  // character set
    }
    t->face = r.NameOrOrdinal();
  }
  for (WORD i = 0; i < count && r.ok(); ++i) {
    r.AlignDword();
    ItemTemplate item;
    if (extended) {
      r.Dword();  // help id
      item.exStyle = r.Dword();
      item.style = r.Dword();
    } else {
      item.style = r.Dword();
      item.exStyle = r.Dword();
    }
    item.x = r.Short();
    item.y = r.Short();
    item.cx = r.Short();
    item.cy = r.Short();
    if (extended) {
      item.id = r.Dword();
    } else {
      item.id = r.Word();
    }
    item.className = r.NameOrOrdinal(&item.classOrdinal);
    if (item.classOrdinal) {
      const char16_t* name = OrdinalClass(item.classOrdinal);
      if (!name) return false;
      item.className = name;
    }
    item.title = r.NameOrOrdinal();
    WORD extra = r.Word();
    r.Skip(extra);
    t->items.push_back(std::move(item));
  }
  return r.ok();
}

const void* FindTemplate(HINSTANCE instance, LPCWSTR name, size_t* size) {
  HRSRC found = FindResourceW(instance, name, RT_DIALOG);
  if (!found) return nullptr;
  HGLOBAL loaded = LoadResource(instance, found);
  *size = SizeofResource(instance, found);
  return loaded ? LockResource(loaded) : nullptr;
}

int Scale(int v, int base, int div) { return (v * base + div / 2) / div; }

HWND Create(HINSTANCE instance, const void* bytes, size_t size, HWND parent, DLGPROC proc, LPARAM param,
            bool modal) {
  ParsedTemplate t;
  if (!bytes || !Parse(bytes, size, &t)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  RegisterDialogClass();
  int baseX, baseY;
  {
    std::lock_guard<std::mutex> g(g_lock);
    BaseUnits(&baseX, &baseY);
  }
  std::u16string cls = t.className.empty() || t.className[0] == u'#' ? std::u16string(WC_DIALOG) : t.className;
  DWORD style = t.style & ~static_cast<DWORD>(WS_VISIBLE);
  if (modal) style &= ~static_cast<DWORD>(WS_CHILD);
  int x = Scale(t.x, baseX, 4), y = Scale(t.y, baseY, 8);
  int w = Scale(t.cx, baseX, 4), h = Scale(t.cy, baseY, 8);
  if (t.style & DS_CENTER) {
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (parent && (style & WS_CHILD)) GetClientRect(parent, &area);
    x = (area.right - area.left - w) / 2;
    y = (area.bottom - area.top - h) / 2;
  }
  HWND dialog = CreateWindowExW(t.exStyle, cls.c_str(), t.title.c_str(), style, x, y, w, h, parent, nullptr,
                                instance, nullptr);
  if (!dialog) return nullptr;
  // The dialog procedure lives in the dialog class's extra bytes.
  SetWindowLongW(dialog, DWL_DLGPROC, reinterpret_cast<LONG_PTR>(proc));
  {
    std::lock_guard<std::mutex> g(g_lock);
    g_dialogs[dialog] = DialogState{modal, false, 0};
  }
  for (auto& item : t.items) {
    HWND control = CreateWindowExW(item.exStyle, item.className.c_str(), item.title.c_str(), item.style | WS_CHILD,
                                   Scale(item.x, baseX, 4), Scale(item.y, baseY, 8), Scale(item.cx, baseX, 4),
                                   Scale(item.cy, baseY, 8), dialog,
                                   reinterpret_cast<HMENU>(static_cast<uintptr_t>(item.id)), instance, nullptr);
    if (!control) {
      // A control whose class nobody registered spoils the whole dialog.
      DestroyWindow(dialog);
      SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
      return nullptr;
    }
  }
  if (!IsWindow(dialog)) return nullptr;
  // The control the focus goes to: the first tab stop that is shown and enabled.
  HWND firstTab = GetNextDlgTabItem(dialog, nullptr, FALSE);
  if (SendMessageW(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTab), param) && firstTab) SetFocus(firstTab);
  if (!IsWindow(dialog)) return nullptr;
  if (t.style & WS_VISIBLE) ShowWindow(dialog, SW_SHOW);
  return dialog;
}

INT_PTR RunModal(HWND dialog, HWND owner) {
  if (!dialog) return -1;
  // The owner is the top-level window that holds the given one.
  while (owner && (GetWindowLongW(owner, GWL_STYLE) & WS_CHILD)) owner = GetParent(owner);
  bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  {
    std::lock_guard<std::mutex> g(g_lock);
    auto it = g_dialogs.find(dialog);
    if (it != g_dialogs.end()) {
      it->second.owner = owner;
      it->second.ownerDisabled = ownerWasEnabled;
    }
  }
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  ShowWindow(dialog, SW_SHOW);
  auto ended = [dialog] {
    std::lock_guard<std::mutex> g(g_lock);
    auto it = g_dialogs.find(dialog);
    return it == g_dialogs.end() || it->second.ended;
  };
  auto done = [&] { return ended() || !IsWindow(dialog); };
  qk::RunModalLoop(done, dialog);
  INT_PTR result = 0;
  bool giveBack = ownerWasEnabled;
  {
    std::lock_guard<std::mutex> g(g_lock);
    auto it = g_dialogs.find(dialog);
    if (it != g_dialogs.end()) {
      if (it->second.ended) result = it->second.result;
      giveBack = it->second.ownerDisabled;
      g_dialogs.erase(it);
    }
  }
  // The owner is enabled before the dialog goes, so that it takes the
  // activation back.
  if (giveBack && IsWindow(owner)) EnableWindow(owner, TRUE);
  if (IsWindow(dialog)) DestroyWindow(dialog);
  return result;
}

}  // namespace

HWND CreateDialogParamW(HINSTANCE instance, LPCWSTR name, HWND parent, DLGPROC proc, LPARAM param) {
  size_t size = 0;
  const void* bytes = FindTemplate(instance, name, &size);
  if (!bytes) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return Create(instance, bytes, size, parent, proc, param, false);
}

HWND CreateDialogIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATE t, HWND parent, DLGPROC proc, LPARAM param) {
  return Create(instance, t, kUnknownSize, parent, proc, param, false);
}

INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param) {
  size_t size = 0;
  const void* bytes = FindTemplate(instance, name, &size);
  if (!bytes) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return -1;
  }
  return RunModal(Create(instance, bytes, size, owner, proc, param, true), owner);
}

INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATE t, HWND owner, DLGPROC proc, LPARAM param) {
  return RunModal(Create(instance, t, kUnknownSize, owner, proc, param, true), owner);
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  bool modal;
  HWND owner = nullptr;
  {
    std::lock_guard<std::mutex> g(g_lock);
    auto it = g_dialogs.find(dialog);
    if (it == g_dialogs.end()) return FALSE;
    it->second.ended = true;
    it->second.result = result;
    modal = it->second.modal;
    if (it->second.ownerDisabled) {
      owner = it->second.owner;
      it->second.ownerDisabled = false;
    }
  }
  // The owner takes input again before the dialog is hidden, so that the
  // activation goes back to it.
  if (owner && IsWindow(owner)) EnableWindow(owner, TRUE);
  // The modal loop looks at the flag after the message in hand.
  if (modal) PostMessageW(dialog, WM_NULL, 0, 0);
  ShowWindow(dialog, SW_HIDE);
  return TRUE;
}

LRESULT DefDlgProcW(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto proc = reinterpret_cast<DLGPROC>(GetWindowLongW(dialog, DWL_DLGPROC));
  if (proc) {
    SetWindowLongW(dialog, DWL_MSGRESULT, 0);
    INT_PTR handled = proc(dialog, msg, wParam, lParam);
    if (handled) {
      switch (msg) {
        case WM_INITDIALOG:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
          return handled;
        default:
          return IsWindow(dialog) ? GetWindowLongW(dialog, DWL_MSGRESULT) : 0;
      }
    }
  }
  switch (msg) {
    case WM_INITDIALOG:
      return FALSE;
    case WM_ERASEBKGND: {
      // The dialog's brush, when its procedure names one.
      HBRUSH brush = proc ? reinterpret_cast<HBRUSH>(proc(dialog, WM_CTLCOLORDLG, wParam, reinterpret_cast<LPARAM>(dialog)))
                          : nullptr;
      if (!brush) return DefWindowProcW(dialog, msg, wParam, lParam);
      RECT r;
      GetClientRect(dialog, &r);
      FillRect(reinterpret_cast<HDC>(wParam), &r, brush);
      return 1;
    }
    case DM_GETDEFID: {
      int id = 0;
      {
        std::lock_guard<std::mutex> g(g_lock);
        auto it = g_dialogs.find(dialog);
        if (it != g_dialogs.end()) id = it->second.defId;
      }
      if (!id) {
        for (HWND c = GetWindow(dialog, GW_CHILD); c && !id; c = GetWindow(c, GW_HWNDNEXT))
          if (IsButtonClass(c) && (GetWindowLongW(c, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            id = GetDlgCtrlID(c);
      }
      return id ? MAKELONG(id, DC_HASDEFID) : 0;
    }
    case DM_SETDEFID: {
      std::lock_guard<std::mutex> g(g_lock);
      auto it = g_dialogs.find(dialog);
      if (it != g_dialogs.end()) it->second.defId = static_cast<int>(wParam);
      return TRUE;
    }
    case WM_ACTIVATE: {
      // The dialog keeps the control that had the focus, and gives it back.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        std::lock_guard<std::mutex> g(g_lock);
        auto it = g_dialogs.find(dialog);
        if (it != g_dialogs.end() && focus && IsChild(dialog, focus)) it->second.savedFocus = focus;
        return 0;
      }
      if (HIWORD(wParam)) return 0;
      HWND target = nullptr;
      {
        std::lock_guard<std::mutex> g(g_lock);
        auto it = g_dialogs.find(dialog);
        if (it != g_dialogs.end()) target = it->second.savedFocus;
      }
      if (!target || !IsWindow(target) || !IsChild(dialog, target) || !IsWindowEnabled(target))
        target = GetNextDlgTabItem(dialog, nullptr, FALSE);
      SetFocus(target ? target : dialog);
      return 0;
    }
    case WM_NEXTDLGCTL: {
      HWND target = lParam ? reinterpret_cast<HWND>(wParam)
                           : GetNextDlgTabItem(dialog, GetFocus(), wParam ? TRUE : FALSE);
      if (target) SetFocus(target);
      return 0;
    }
    case WM_CLOSE:
      // Closing a dialog is its Cancel.
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
      return 0;
    case WM_NCDESTROY: {
      std::lock_guard<std::mutex> g(g_lock);
      auto it = g_dialogs.find(dialog);
      if (it != g_dialogs.end() && !it->second.modal) g_dialogs.erase(it);
      return 0;
    }
    default:
      return DefWindowProcW(dialog, msg, wParam, lParam);
  }
}

namespace {

// A control the keys may move to: shown and enabled by its own style. The
// dialog's own visibility does not count, so that the focus can be placed
// while a dialog is built, before it is shown.
bool Reachable(HWND control) {
  DWORD style = static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE));
  return (style & WS_VISIBLE) && !(style & WS_DISABLED);
}

}  // namespace

HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) {
  std::vector<HWND> stops;
  for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    if (Reachable(c) && (GetWindowLongW(c, GWL_STYLE) & WS_TABSTOP)) stops.push_back(c);
  if (stops.empty()) return nullptr;
  auto at = std::find(stops.begin(), stops.end(), control);
  if (at == stops.end()) {
    if (!control || control == dialog) return previous ? stops.back() : stops.front();
    // A control that is no tab stop: start from its place among the children.
    size_t before = 0;
    for (HWND c = GetWindow(dialog, GW_CHILD); c && c != control; c = GetWindow(c, GW_HWNDNEXT))
      if (std::find(stops.begin(), stops.end(), c) != stops.end()) ++before;
    if (previous) return stops[(before + stops.size() - 1) % stops.size()];
    return stops[before % stops.size()];
  }
  size_t i = static_cast<size_t>(at - stops.begin());
  return previous ? stops[(i + stops.size() - 1) % stops.size()] : stops[(i + 1) % stops.size()];
}

HWND GetNextDlgGroupItem(HWND dialog, HWND control, BOOL previous) {
  std::vector<HWND> children;
  for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) children.push_back(c);
  auto at = std::find(children.begin(), children.end(), control);
  if (at == children.end()) return nullptr;
  // The group runs from a WS_GROUP control to the control before the next one.
  size_t first = static_cast<size_t>(at - children.begin());
  while (first > 0 && !(GetWindowLongW(children[first], GWL_STYLE) & WS_GROUP)) --first;
  size_t end = first + 1;
  while (end < children.size() && !(GetWindowLongW(children[end], GWL_STYLE) & WS_GROUP)) ++end;
  std::vector<HWND> group;
  for (size_t k = first; k < end; ++k)
    if (children[k] == control || Reachable(children[k]))
      group.push_back(children[k]);
  size_t i = static_cast<size_t>(std::find(group.begin(), group.end(), control) - group.begin());
  return previous ? group[(i + group.size() - 1) % group.size()] : group[(i + 1) % group.size()];
}

namespace {

bool IsButtonClass(HWND hwnd) {
  WCHAR cls[16];
  return GetClassNameW(hwnd, cls, 16) && _wcsicmp(cls, u"BUTTON") == 0;
}

// What a control wants of the keys. A control that does not answer is
// judged by its class and style.
UINT DialogCode(HWND control, MSG* msg) {
  if (!control) return 0;
  UINT code = static_cast<UINT>(SendMessageW(control, WM_GETDLGCODE, msg ? msg->wParam : 0,
                                             reinterpret_cast<LPARAM>(msg)));
  if (code) return code;
  WCHAR cls[16];
  if (!GetClassNameW(control, cls, 16)) return 0;
  DWORD style = static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE));
  if (_wcsicmp(cls, u"BUTTON") == 0) {
    switch (style & BS_TYPEMASK) {
      case BS_DEFPUSHBUTTON:
        return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
      case BS_PUSHBUTTON:
      case BS_OWNERDRAW:
        return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
      case BS_RADIOBUTTON:
      case BS_AUTORADIOBUTTON:
        return DLGC_BUTTON | DLGC_RADIOBUTTON;
      case BS_GROUPBOX:
        return DLGC_STATIC;
      default:
        return DLGC_BUTTON;
    }
  }
  if (_wcsicmp(cls, u"EDIT") == 0)
    return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS | ((style & ES_MULTILINE) ? DLGC_WANTALLKEYS : 0);
  if (_wcsicmp(cls, u"STATIC") == 0) return DLGC_STATIC;
  if (_wcsicmp(cls, u"LISTBOX") == 0 || _wcsicmp(cls, u"COMBOBOX") == 0 || _wcsicmp(cls, u"SCROLLBAR") == 0)
    return DLGC_WANTARROWS | DLGC_WANTCHARS;
  return 0;
}

// The focus moves to a control as the keys move it: an edit's text is
// selected whole.
void FocusControl(HWND control, MSG* msg) {
  SetFocus(control);
  if (DialogCode(control, msg) & DLGC_HASSETSEL) SendMessageW(control, EM_SETSEL, 0, -1);
}

// Presses a dialog button as a click would: the command goes to the dialog.
void PressButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (button && !IsWindowEnabled(button)) {
    MessageBeep(0);
    return;
  }
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

}  // namespace

namespace qk::user {

// The dialog class under its two names: "#32770" and the device's "Dialog".
void RegisterDialogClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const char16_t* name : {WC_DIALOG, u"Dialog"}) {
      WNDCLASSW wc{};
      wc.lpfnWndProc = DefDlgProcW;
      wc.cbWndExtra = DLGWINDOWEXTRA;
      wc.lpszClassName = name;
      RegisterClassW(&wc);
    }
  });
}

}  // namespace qk::user

BOOL IsDialogMessageW(HWND dialog, LPMSG msg) {
  if (!dialog || !msg || !IsWindow(dialog) || (msg->hwnd != dialog && !IsChild(dialog, msg->hwnd))) return FALSE;
  HWND focus = GetFocus();
  if (focus != dialog && !IsChild(dialog, focus)) focus = nullptr;
  // The control that owns the key (a control inside a control answers for it).
  HWND control = msg->hwnd;
  while (control && control != dialog && GetParent(control) != dialog) control = GetParent(control);
  if (control == dialog) control = nullptr;
  if (msg->message == WM_KEYDOWN || msg->message == WM_CHAR) {
    UINT code = DialogCode(control, msg);
    bool keyDown = msg->message == WM_KEYDOWN;
    switch (msg->wParam) {
      case VK_TAB:
        if (code & (DLGC_WANTTAB | DLGC_WANTALLKEYS)) break;
        if (keyDown) {
          HWND next = GetNextDlgTabItem(dialog, control, (GetKeyState(VK_SHIFT) & 0x8000) ? TRUE : FALSE);
          if (next) FocusControl(next, msg);
        }
        return TRUE;
      case VK_LEFT:
      case VK_UP:
      case VK_RIGHT:
      case VK_DOWN:
        if (!keyDown || (code & (DLGC_WANTARROWS | DLGC_WANTALLKEYS)) || !control) break;
        {
          BOOL previous = msg->wParam == VK_LEFT || msg->wParam == VK_UP;
          HWND next = GetNextDlgGroupItem(dialog, control, previous);
          if (next && next != control) {
            FocusControl(next, msg);
            // An automatic radio button follows the focus.
            if (IsButtonClass(next) && (GetWindowLongW(next, GWL_STYLE) & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
              SendMessageW(next, BM_CLICK, 0, 0);
          }
        }
        return TRUE;
      case VK_RETURN:
        if (code & DLGC_WANTALLKEYS) break;
        if (keyDown) {
          int id;
          if (code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) {
            id = GetDlgCtrlID(control);
          } else {
            LRESULT def = SendMessageW(dialog, DM_GETDEFID, 0, 0);
            id = HIWORD(def) == DC_HASDEFID ? LOWORD(def) : IDOK;
          }
          PressButton(dialog, id);
        }
        return TRUE;
      case VK_ESCAPE:
        // A control that wants every key keeps Escape (a combo box closing
        // its list); a multi-line edit lets it go.
        if (code & DLGC_WANTALLKEYS) break;
        if (keyDown) PressButton(dialog, IDCANCEL);
        return TRUE;
      default:
        break;
    }
  }
  TranslateMessage(msg);
  DispatchMessageW(msg);
  return TRUE;
}

BOOL MapDialogRect(HWND, LPRECT rect) {
  if (!rect) return FALSE;
  std::lock_guard<std::mutex> g(g_lock);
  int baseX, baseY;
  BaseUnits(&baseX, &baseY);
  rect->left = Scale(rect->left, baseX, 4);
  rect->right = Scale(rect->right, baseX, 4);
  rect->top = Scale(rect->top, baseY, 8);
  rect->bottom = Scale(rect->bottom, baseY, 8);
  return TRUE;
}

LONG GetDialogBaseUnits() {
  std::lock_guard<std::mutex> g(g_lock);
  int baseX, baseY;
  BaseUnits(&baseX, &baseY);
  return MAKELONG(baseX, baseY);
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SendMessageW(item, msg, wParam, lParam) : 0;
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SetWindowTextW(item, text) : FALSE;
}

UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int cch) {
  HWND item = GetDlgItem(dialog, id);
  if (!item) {
    if (text && cch > 0) text[0] = 0;
    return 0;
  }
  return static_cast<UINT>(GetWindowTextW(item, text, cch));
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
  WCHAR text[16];
  if (isSigned)
    swprintf(text, 16, u"%d", static_cast<int>(value));
  else
    swprintf(text, 16, u"%u", value);
  return SetDlgItemTextW(dialog, id, text);
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
  WCHAR text[32];
  if (translated) *translated = FALSE;
  if (!GetDlgItemTextW(dialog, id, text, 32)) return 0;
  char16_t* end = nullptr;
  long long v = isSigned ? static_cast<long long>(wcstol(text, &end, 10)) : static_cast<long long>(wcstoul(text, &end, 10));
  while (end && iswspace16(*end)) ++end;
  if (!end || end == text || *end) return 0;
  if (translated) *translated = TRUE;
  return static_cast<UINT>(v);
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  HWND item = GetDlgItem(dialog, id);
  if (!item) return FALSE;
  SendMessageW(item, BM_SETCHECK, check, 0);
  return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
  return static_cast<UINT>(SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0));
}

namespace qk {

void SetDialogBaseUnits(int x, int y) {
  std::lock_guard<std::mutex> g(g_lock);
  g_baseX = x;
  g_baseY = y;
}

DialogTemplateBuilder::DialogTemplateBuilder(DWORD style, DWORD exStyle, short x, short y, short cx, short cy,
                                             const std::u16string& title, const std::u16string& className)
    : style_(style), exStyle_(exStyle), x_(x), y_(y), cx_(cx), cy_(cy), title_(title), className_(className) {}

DialogTemplateBuilder& DialogTemplateBuilder::Font(WORD points, const std::u16string& face) {
  style_ |= DS_SETFONT;
  points_ = points;
  face_ = face;
  return *this;
}

DialogTemplateBuilder& DialogTemplateBuilder::Control(const std::u16string& className, const std::u16string& title,
                                                      WORD id, DWORD style, short x, short y, short cx, short cy,
                                                      DWORD exStyle) {
  items_.push_back({className, title, id, style, exStyle, x, y, cx, cy});
  return *this;
}

std::vector<DWORD> DialogTemplateBuilder::Build() const {
  std::vector<WORD> w;
  auto dword = [&](DWORD v) {
    w.push_back(static_cast<WORD>(v & 0xFFFF));
    w.push_back(static_cast<WORD>(v >> 16));
  };
  auto text = [&](const std::u16string& s) {
    for (char16_t c : s) w.push_back(static_cast<WORD>(c));
    w.push_back(0);
  };
  auto nameOrNone = [&](const std::u16string& s) {
    if (s.empty())
      w.push_back(0);
    else
      text(s);
  };
  dword(style_);
  dword(exStyle_);
  w.push_back(static_cast<WORD>(items_.size()));
  for (short v : {x_, y_, cx_, cy_}) w.push_back(static_cast<WORD>(v));
  w.push_back(0);  // no menu
  nameOrNone(className_);
  text(title_);
  if (style_ & DS_SETFONT) {
    w.push_back(points_);
    text(face_);
  }
  static const std::pair<const char16_t*, WORD> ordinals[] = {{u"BUTTON", 0x80}, {u"EDIT", 0x81},
                                                              {u"STATIC", 0x82}, {u"LISTBOX", 0x83},
                                                              {u"SCROLLBAR", 0x84}, {u"COMBOBOX", 0x85}};
  for (auto& item : items_) {
    if (w.size() % 2) w.push_back(0);  // DWORD alignment
    dword(item.style);
    dword(item.exStyle);
    for (short v : {item.x, item.y, item.cx, item.cy}) w.push_back(static_cast<WORD>(v));
    w.push_back(item.id);
    WORD ordinal = 0;
    for (auto& [name, number] : ordinals)
      if (item.className == name) ordinal = number;
    if (ordinal) {
      w.push_back(0xFFFF);
      w.push_back(ordinal);
    } else {
      text(item.className);
    }
    text(item.title);
    w.push_back(0);  // no creation data
  }
  if (w.size() % 2) w.push_back(0);
  std::vector<DWORD> out(w.size() / 2);
  std::memcpy(out.data(), w.data(), w.size() * sizeof(WORD));
  return out;
}

}  // namespace qk
