// The standard controls: state and notifications, no drawing (see
// user/dialog.h). Each control keeps its state behind a pointer in its
// first extra bytes, freed when the window goes.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/wstring.h"
#include "user/dialog.h"

namespace {

struct ControlState {
  // Buttons.
  UINT check = BST_UNCHECKED;
  bool pushed = false;
  // Edits.
  DWORD selStart = 0, selEnd = 0;
  DWORD limit = 0x7FFFFFFE;
  bool readOnly = false;
  // Lists and combo boxes.
  std::vector<std::u16string> items;
  std::vector<LPARAM> data;
  int current = -1;
  // Fonts and images.
  WPARAM font = 0;
  LPARAM image = 0;
};

ControlState* StateOf(HWND hwnd) { return reinterpret_cast<ControlState*>(GetWindowLongW(hwnd, 0)); }

void Notify(HWND hwnd, WORD code) {
  HWND parent = GetParent(hwnd);
  if (parent) SendMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), code), reinterpret_cast<LPARAM>(hwnd));
}

std::u16string Text(HWND hwnd) {
  int n = GetWindowTextLengthW(hwnd);
  std::u16string s(static_cast<size_t>(n) + 1, 0);
  GetWindowTextW(hwnd, s.data(), n + 1);
  s.resize(static_cast<size_t>(n));
  return s;
}

// Common lifetime and font handling; returns true when handled.
bool Common(HWND hwnd, UINT msg, WPARAM wParam, LPARAM, LRESULT* result) {
  switch (msg) {
    case WM_NCCREATE:
    case WM_CREATE:
      if (!StateOf(hwnd)) SetWindowLongW(hwnd, 0, reinterpret_cast<LONG_PTR>(new ControlState));
      *result = msg == WM_NCCREATE ? TRUE : 0;
      return true;
    case WM_NCDESTROY:
      delete StateOf(hwnd);
      SetWindowLongW(hwnd, 0, 0);
      *result = 0;
      return true;
    case WM_SETFONT:
      if (auto* s = StateOf(hwnd)) s->font = wParam;
      *result = 0;
      return true;
    case WM_GETFONT:
      *result = StateOf(hwnd) ? static_cast<LRESULT>(StateOf(hwnd)->font) : 0;
      return true;
    default:
      return false;
  }
}

void ClickButton(HWND hwnd) {
  ControlState* s = StateOf(hwnd);
  DWORD type = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)) & BS_TYPEMASK;
  if (type == BS_AUTOCHECKBOX) {
    s->check = s->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
  } else if (type == BS_AUTO3STATE) {
    s->check = (s->check + 1) % 3;
  } else if (type == BS_AUTORADIOBUTTON) {
    // The other automatic radio buttons of its group go off.
    HWND parent = GetParent(hwnd);
    for (HWND sibling = parent ? GetWindow(hwnd, GW_HWNDFIRST) : nullptr; sibling;
         sibling = GetWindow(sibling, GW_HWNDNEXT)) {
      WCHAR cls[16];
      GetClassNameW(sibling, cls, 16);
      if (sibling != hwnd && _wcsicmp(cls, u"BUTTON") == 0 &&
          (static_cast<DWORD>(GetWindowLongW(sibling, GWL_STYLE)) & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
        SendMessageW(sibling, BM_SETCHECK, BST_UNCHECKED, 0);
    }
    s->check = BST_CHECKED;
  }
  Notify(hwnd, BN_CLICKED);
}

LRESULT ButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT r;
  if (Common(hwnd, msg, wParam, lParam, &r)) return r;
  ControlState* s = StateOf(hwnd);
  switch (msg) {
    case BM_GETCHECK:
      return s ? s->check : 0;
    case BM_SETCHECK:
      if (s) s->check = static_cast<UINT>(wParam);
      return 0;
    case BM_GETSTATE:
      return s ? (s->check | (s->pushed ? BST_PUSHED : 0)) : 0;
    case BM_SETSTATE:
      if (s) s->pushed = wParam != 0;
      return 0;
    case BM_CLICK:
      if (s && IsWindowEnabled(hwnd)) ClickButton(hwnd);
      return 0;
    case WM_LBUTTONDOWN:
      if (s) s->pushed = true;
      SetCapture(hwnd);
      return 0;
    case WM_LBUTTONUP: {
      bool was = s && s->pushed;
      if (s) s->pushed = false;
      if (GetCapture() == hwnd) ReleaseCapture();
      RECT rc;
      GetClientRect(hwnd, &rc);
      int x = static_cast<short>(LOWORD(lParam)), y = static_cast<short>(HIWORD(lParam));
      if (was && x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom) ClickButton(hwnd);
      return 0;
    }
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

LRESULT EditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT r;
  if (Common(hwnd, msg, wParam, lParam, &r)) {
    if (msg == WM_CREATE && (GetWindowLongW(hwnd, GWL_STYLE) & ES_READONLY)) StateOf(hwnd)->readOnly = true;
    return r;
  }
  ControlState* s = StateOf(hwnd);
  if (!s) return DefWindowProcW(hwnd, msg, wParam, lParam);
  switch (msg) {
    case WM_SETTEXT: {
      DefWindowProcW(hwnd, msg, wParam, lParam);
      s->selStart = s->selEnd = 0;
      Notify(hwnd, EN_UPDATE);
      Notify(hwnd, EN_CHANGE);
      return TRUE;
    }
    case EM_GETSEL:
      if (wParam) *reinterpret_cast<DWORD*>(wParam) = s->selStart;
      if (lParam) *reinterpret_cast<DWORD*>(lParam) = s->selEnd;
      return MAKELRESULT(s->selStart, s->selEnd);
    case EM_SETSEL: {
      DWORD length = static_cast<DWORD>(GetWindowTextLengthW(hwnd));
      LONG start = static_cast<LONG>(wParam), end = static_cast<LONG>(lParam);
      if (start == -1) {
        s->selStart = s->selEnd = length;  // -1 removes the selection, caret at the end
        return 0;
      }
      if (end < 0 || static_cast<DWORD>(end) > length) end = static_cast<LONG>(length);
      if (start < 0 || static_cast<DWORD>(start) > length) start = static_cast<LONG>(length);
      s->selStart = static_cast<DWORD>(std::min(start, end));
      s->selEnd = static_cast<DWORD>(std::max(start, end));
      return 0;
    }
    case EM_REPLACESEL: {
      std::u16string text = Text(hwnd);
      std::u16string insert = lParam ? reinterpret_cast<LPCWSTR>(lParam) : u"";
      DWORD start = std::min<DWORD>(s->selStart, static_cast<DWORD>(text.size()));
      DWORD end = std::min<DWORD>(s->selEnd, static_cast<DWORD>(text.size()));
      size_t room = s->limit > text.size() - (end - start) ? s->limit - (text.size() - (end - start)) : 0;
      if (insert.size() > room) insert.resize(room);
      text.replace(start, end - start, insert);
      DefWindowProcW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
      s->selStart = s->selEnd = start + static_cast<DWORD>(insert.size());
      Notify(hwnd, EN_UPDATE);
      Notify(hwnd, EN_CHANGE);
      return 0;
    }
    case WM_CHAR: {
      if (s->readOnly || wParam < 0x20) return 0;
      WCHAR c[2] = {static_cast<WCHAR>(wParam), 0};
      return EditProc(hwnd, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(c));
    }
    case EM_LIMITTEXT:
      s->limit = wParam ? static_cast<DWORD>(wParam) : 0x7FFFFFFE;
      return 0;
    case EM_SETREADONLY:
      s->readOnly = wParam != 0;
      SetWindowLongW(hwnd, GWL_STYLE,
                     wParam ? (GetWindowLongW(hwnd, GWL_STYLE) | ES_READONLY) : (GetWindowLongW(hwnd, GWL_STYLE) & ~ES_READONLY));
      return TRUE;
    case EM_SCROLLCARET:
      return TRUE;
    case EM_GETLINECOUNT: {
      std::u16string text = Text(hwnd);
      return 1 + static_cast<LRESULT>(std::count(text.begin(), text.end(), u'\n'));
    }
    case WM_SETFOCUS:
      Notify(hwnd, EN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      Notify(hwnd, EN_KILLFOCUS);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

LRESULT StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT r;
  if (Common(hwnd, msg, wParam, lParam, &r)) return r;
  ControlState* s = StateOf(hwnd);
  switch (msg) {
    case STM_SETIMAGE: {
      if (!s) return 0;
      LPARAM old = s->image;
      s->image = lParam;
      return old;
    }
    case STM_GETIMAGE:
      return s ? s->image : 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

// List boxes and combo boxes share their list; the message numbers differ.
struct ListMessages {
  UINT add, insert, remove, reset, setCur, getCur, getText, getTextLen, count, getData, setData, findExact;
  DWORD sortStyle;
  LRESULT err;
};
constexpr ListMessages kListBox{LB_ADDSTRING, LB_INSERTSTRING, LB_DELETESTRING, LB_RESETCONTENT,
                                LB_SETCURSEL, LB_GETCURSEL,    LB_GETTEXT,      LB_GETTEXTLEN,
                                LB_GETCOUNT,  LB_GETITEMDATA,  LB_SETITEMDATA,  LB_FINDSTRINGEXACT,
                                LBS_SORT,     LB_ERR};
constexpr ListMessages kComboBox{CB_ADDSTRING, CB_INSERTSTRING, CB_DELETESTRING, CB_RESETCONTENT,
                                 CB_SETCURSEL, CB_GETCURSEL,    CB_GETLBTEXT,    CB_GETLBTEXTLEN,
                                 CB_GETCOUNT,  CB_GETITEMDATA,  CB_SETITEMDATA,  CB_FINDSTRINGEXACT,
                                 CBS_SORT,     CB_ERR};

bool ListMessage(HWND hwnd, const ListMessages& m, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  ControlState* s = StateOf(hwnd);
  if (!s) return false;
  auto& items = s->items;
  int count = static_cast<int>(items.size());
  int index = static_cast<int>(static_cast<INT_PTR>(wParam));
  auto valid = [&](int i) { return i >= 0 && i < count; };
  if (msg == m.add || msg == m.insert) {
    std::u16string text = lParam ? reinterpret_cast<LPCWSTR>(lParam) : u"";
    int at;
    if (msg == m.add && (GetWindowLongW(hwnd, GWL_STYLE) & m.sortStyle)) {
      at = static_cast<int>(std::upper_bound(items.begin(), items.end(), text,
                                             [](const std::u16string& a, const std::u16string& b) {
                                               return _wcsicmp(a.c_str(), b.c_str()) < 0;
                                             }) -
                            items.begin());
    } else if (msg == m.add || index < 0 || index > count) {
      at = count;
    } else {
      at = index;
    }
    items.insert(items.begin() + at, text);
    s->data.insert(s->data.begin() + at, 0);
    if (s->current >= at) ++s->current;
    *result = at;
  } else if (msg == m.remove) {
    if (!valid(index)) {
      *result = m.err;
    } else {
      items.erase(items.begin() + index);
      s->data.erase(s->data.begin() + index);
      if (s->current == index) s->current = -1;
      else if (s->current > index) --s->current;
      *result = count - 1;
    }
  } else if (msg == m.reset) {
    items.clear();
    s->data.clear();
    s->current = -1;
    *result = 0;
  } else if (msg == m.setCur) {
    s->current = valid(index) ? index : -1;
    *result = valid(index) ? index : m.err;
  } else if (msg == m.getCur) {
    *result = s->current >= 0 ? s->current : m.err;
  } else if (msg == m.getText) {
    if (!valid(index) || !lParam) {
      *result = m.err;
    } else {
      auto* out = reinterpret_cast<LPWSTR>(lParam);
      std::memcpy(out, items[index].c_str(), (items[index].size() + 1) * sizeof(WCHAR));
      *result = static_cast<LRESULT>(items[index].size());
    }
  } else if (msg == m.getTextLen) {
    *result = valid(index) ? static_cast<LRESULT>(items[index].size()) : m.err;
  } else if (msg == m.count) {
    *result = count;
  } else if (msg == m.getData) {
    *result = valid(index) ? s->data[index] : m.err;
  } else if (msg == m.setData) {
    if (valid(index)) s->data[index] = lParam;
    *result = valid(index) ? 0 : m.err;
  } else if (msg == m.findExact) {
    *result = m.err;
    std::u16string wanted = lParam ? reinterpret_cast<LPCWSTR>(lParam) : u"";
    for (int i = 0; i < count; ++i) {
      int k = (std::max(index, -1) + 1 + i) % std::max(count, 1);
      if (_wcsicmp(items[k].c_str(), wanted.c_str()) == 0) {
        *result = k;
        break;
      }
    }
  } else {
    return false;
  }
  return true;
}

LRESULT ListBoxProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT r;
  if (Common(hwnd, msg, wParam, lParam, &r)) return r;
  if (ListMessage(hwnd, kListBox, msg, wParam, lParam, &r)) return r;
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT ComboBoxProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT r;
  if (Common(hwnd, msg, wParam, lParam, &r)) return r;
  if (ListMessage(hwnd, kComboBox, msg, wParam, lParam, &r)) {
    // The shown text follows the selection.
    if (msg == CB_SETCURSEL || msg == CB_RESETCONTENT || msg == CB_DELETESTRING) {
      ControlState* s = StateOf(hwnd);
      const char16_t* text = s->current >= 0 ? s->items[s->current].c_str() : u"";
      DefWindowProcW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    }
    return r;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT ScrollBarProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT r;
  if (Common(hwnd, msg, wParam, lParam, &r)) return r;
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

namespace qk::user {

// Registers the standard control classes (once per process).
void RegisterStandardControls() {
  static std::once_flag once;
  std::call_once(once, [] {
    const std::pair<const char16_t*, WNDPROC> classes[] = {{u"BUTTON", ButtonProc},   {u"EDIT", EditProc},
                                                           {u"STATIC", StaticProc},   {u"LISTBOX", ListBoxProc},
                                                           {u"COMBOBOX", ComboBoxProc}, {u"SCROLLBAR", ScrollBarProc}};
    for (auto& [name, proc] : classes) {
      WNDCLASSW wc{};
      wc.style = CS_GLOBALCLASS;
      wc.lpfnWndProc = proc;
      wc.cbWndExtra = sizeof(LONG_PTR);
      wc.lpszClassName = name;
      RegisterClassW(&wc);
    }
  });
}

}  // namespace qk::user
