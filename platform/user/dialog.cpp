// Dialogs from templates (see user/dialog.h).
#include "user/dialog.h"

#include <cstring>
#include <map>
#include <mutex>

#include "kernel/resource.h"
#include "kernel/wstring.h"

namespace {

std::mutex g_lock;
int g_baseX = 12, g_baseY = 26;

struct DialogState {
  bool modal = false;
  bool ended = false;
  INT_PTR result = 0;
};
std::map<HWND, DialogState> g_dialogs;

void RegisterDialogClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefDlgProcW;
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.lpszClassName = WC_DIALOG;
    RegisterClassW(&wc);
  });
}

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
    baseX = g_baseX;
    baseY = g_baseY;
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
  HWND firstTab = nullptr;
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
    if (!firstTab && (item.style & WS_TABSTOP)) firstTab = control;
  }
  if (!IsWindow(dialog)) return nullptr;
  if (SendMessageW(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTab), param) && firstTab) SetFocus(firstTab);
  if (!IsWindow(dialog)) return nullptr;
  if (t.style & WS_VISIBLE) ShowWindow(dialog, SW_SHOW);
  return dialog;
}

INT_PTR RunModal(HWND dialog, HWND owner) {
  if (!dialog) return -1;
  bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  ShowWindow(dialog, SW_SHOW);
  auto ended = [dialog] {
    std::lock_guard<std::mutex> g(g_lock);
    auto it = g_dialogs.find(dialog);
    return it == g_dialogs.end() || it->second.ended;
  };
  auto done = [&] { return ended() || !IsWindow(dialog); };
  qk::RunModalLoop(done);
  INT_PTR result = 0;
  {
    std::lock_guard<std::mutex> g(g_lock);
    auto it = g_dialogs.find(dialog);
    if (it != g_dialogs.end()) {
      if (it->second.ended) result = it->second.result;
      g_dialogs.erase(it);
    }
  }
  if (ownerWasEnabled) EnableWindow(owner, TRUE);
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
  {
    std::lock_guard<std::mutex> g(g_lock);
    auto it = g_dialogs.find(dialog);
    if (it == g_dialogs.end()) return FALSE;
    it->second.ended = true;
    it->second.result = result;
    modal = it->second.modal;
  }
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

BOOL IsDialogMessageW(HWND dialog, LPMSG msg) {
  if (!dialog || !msg || (msg->hwnd != dialog && !IsChild(dialog, msg->hwnd))) return FALSE;
  if (msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE)) {
    int id = msg->wParam == VK_RETURN ? IDOK : IDCANCEL;
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, 0), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    return TRUE;
  }
  DispatchMessageW(msg);
  return TRUE;
}

BOOL MapDialogRect(HWND, LPRECT rect) {
  if (!rect) return FALSE;
  std::lock_guard<std::mutex> g(g_lock);
  rect->left = Scale(rect->left, g_baseX, 4);
  rect->right = Scale(rect->right, g_baseX, 4);
  rect->top = Scale(rect->top, g_baseY, 8);
  rect->bottom = Scale(rect->bottom, g_baseY, 8);
  return TRUE;
}

LONG GetDialogBaseUnits() {
  std::lock_guard<std::mutex> g(g_lock);
  return MAKELONG(g_baseX, g_baseY);
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
