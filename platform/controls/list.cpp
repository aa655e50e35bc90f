// "LISTBOX" (single selection, sorted or not, owner-drawn rows of fixed
// height) and "COMBOBOX" as a drop list: a box showing the chosen entry and
// an arrow; a tap opens the entries in a pop-up list below it (above it
// when there is no room), a tap on an entry chooses it.
#include <algorithm>

#include "controls/control.h"
#include "kernel/wstring.h"

namespace qk::controls {
namespace {

// The entries of a list box or a combo box and the chosen one.
struct ListModel {
  std::vector<std::u16string> items;
  std::vector<LPARAM> data;
  int current = -1;

  int Count() const { return static_cast<int>(items.size()); }
  bool Valid(int i) const { return i >= 0 && i < Count(); }

  int Insert(int at, const std::u16string& text, bool sorted) {
    if (sorted) {
      at = static_cast<int>(std::upper_bound(items.begin(), items.end(), text,
                                             [](const std::u16string& a, const std::u16string& b) {
                                               return _wcsicmp(a.c_str(), b.c_str()) < 0;
                                             }) -
                            items.begin());
    } else if (at < 0 || at > Count()) {
      at = Count();
    }
    items.insert(items.begin() + at, text);
    data.insert(data.begin() + at, 0);
    if (current >= at) ++current;
    return at;
  }
  void Remove(int i) {
    items.erase(items.begin() + i);
    data.erase(data.begin() + i);
    if (current == i)
      current = -1;
    else if (current > i)
      --current;
  }
  int Find(int after, const std::u16string& wanted, bool exact) const {
    int n = Count();
    for (int k = 0; k < n; ++k) {
      int i = (std::max(after, -1) + 1 + k) % n;
      const std::u16string& s = items[static_cast<size_t>(i)];
      if (exact ? _wcsicmp(s.c_str(), wanted.c_str()) == 0
                : (s.size() >= wanted.size() && _wcsnicmp(s.c_str(), wanted.c_str(), wanted.size()) == 0))
        return i;
    }
    return -1;
  }
};

// Messages that list boxes and combo boxes share under different numbers.
struct ListMessages {
  UINT add, insert, remove, reset, setCur, getCur, getText, getTextLen, count, getData, setData, findExact, find,
      select;
  DWORD sortStyle;
  LRESULT err;
};
constexpr ListMessages kListBox{LB_ADDSTRING,   LB_INSERTSTRING,    LB_DELETESTRING, LB_RESETCONTENT, LB_SETCURSEL,
                                LB_GETCURSEL,   LB_GETTEXT,         LB_GETTEXTLEN,   LB_GETCOUNT,     LB_GETITEMDATA,
                                LB_SETITEMDATA, LB_FINDSTRINGEXACT, LB_FINDSTRING,   LB_SELECTSTRING, LBS_SORT,
                                LB_ERR};
constexpr ListMessages kComboBox{CB_ADDSTRING,   CB_INSERTSTRING,    CB_DELETESTRING, CB_RESETCONTENT, CB_SETCURSEL,
                                 CB_GETCURSEL,   CB_GETLBTEXT,       CB_GETLBTEXTLEN, CB_GETCOUNT,     CB_GETITEMDATA,
                                 CB_SETITEMDATA, CB_FINDSTRINGEXACT, CB_FINDSTRING,   CB_SELECTSTRING, CBS_SORT,
                                 CB_ERR};

// Handles the shared messages; true when msg was one of them. changed is
// set when the entries or the choice changed.
bool ListMessage(ListModel& m, const ListMessages& k, DWORD style, UINT msg, WPARAM wParam, LPARAM lParam,
                 LRESULT* result, bool* changed) {
  int index = static_cast<int>(static_cast<INT_PTR>(wParam));
  *changed = false;
  if (msg == k.add || msg == k.insert) {
    std::u16string text = lParam ? reinterpret_cast<LPCWSTR>(lParam) : u"";
    *result = m.Insert(msg == k.add ? -1 : index, text, msg == k.add && (style & k.sortStyle));
    *changed = true;
  } else if (msg == k.remove) {
    if (!m.Valid(index)) {
      *result = k.err;
    } else {
      m.Remove(index);
      *result = m.Count();
      *changed = true;
    }
  } else if (msg == k.reset) {
    m.items.clear();
    m.data.clear();
    m.current = -1;
    *result = 0;
    *changed = true;
  } else if (msg == k.setCur) {
    m.current = m.Valid(index) ? index : -1;
    *result = m.Valid(index) ? index : k.err;
    *changed = true;
  } else if (msg == k.getCur) {
    *result = m.current >= 0 ? m.current : k.err;
  } else if (msg == k.getText) {
    if (!m.Valid(index) || !lParam) {
      *result = k.err;
    } else {
      const std::u16string& s = m.items[static_cast<size_t>(index)];
      std::copy(s.c_str(), s.c_str() + s.size() + 1, reinterpret_cast<LPWSTR>(lParam));
      *result = static_cast<LRESULT>(s.size());
    }
  } else if (msg == k.getTextLen) {
    *result = m.Valid(index) ? static_cast<LRESULT>(m.items[static_cast<size_t>(index)].size()) : k.err;
  } else if (msg == k.count) {
    *result = m.Count();
  } else if (msg == k.getData) {
    *result = m.Valid(index) ? m.data[static_cast<size_t>(index)] : k.err;
  } else if (msg == k.setData) {
    if (m.Valid(index)) m.data[static_cast<size_t>(index)] = lParam;
    *result = m.Valid(index) ? 0 : k.err;
  } else if (msg == k.findExact || msg == k.find || msg == k.select) {
    std::u16string wanted = lParam ? reinterpret_cast<LPCWSTR>(lParam) : u"";
    int found = m.Find(index, wanted, msg == k.findExact);
    *result = found >= 0 ? found : k.err;
    if (msg == k.select && found >= 0) {
      m.current = found;
      *changed = true;
    }
  } else {
    return false;
  }
  return true;
}

// Paints rows top.. of a model into r; the chosen row highlighted.
void PaintRows(HDC dc, HWND owner, const ListModel& m, const RECT& r, int top, int rowHeight, bool ownerDraw,
               UINT ctlType, bool focused, int focusRow) {
  for (int i = top, y = r.top; i < m.Count() && y < r.bottom; ++i, y += rowHeight) {
    RECT row{r.left, y, r.right, y + rowHeight};
    bool chosen = i == m.current;
    if (ownerDraw) {
      DRAWITEMSTRUCT dis{};
      dis.CtlType = ctlType;
      dis.CtlID = static_cast<UINT>(GetDlgCtrlID(owner));
      dis.itemID = static_cast<UINT>(i);
      dis.itemAction = ODA_DRAWENTIRE;
      dis.itemState = (chosen ? ODS_SELECTED : 0) | (focused && i == focusRow ? ODS_FOCUS : 0);
      dis.hwndItem = owner;
      dis.hDC = dc;
      dis.rcItem = row;
      dis.itemData = static_cast<ULONG_PTR>(m.data[static_cast<size_t>(i)]);
      SendMessageW(GetParent(owner), WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
      continue;
    }
    if (chosen) Fill(dc, row, Sys(COLOR_HIGHLIGHT));
    RECT tr = row;
    InflateRect(&tr, -Scale(4), 0);
    DrawLabel(dc, m.items[static_cast<size_t>(i)], tr, DT_LEFT,
              chosen ? Sys(COLOR_HIGHLIGHTTEXT) : Sys(COLOR_WINDOWTEXT));
  }
}

// ---------------------------------------------------------------- list box

class ListBox : public Control {
 public:
  explicit ListBox(HWND hwnd) : Control(hwnd), bar_(true) {}

  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) override {
    LRESULT r = 0;
    bool changed = false;
    if (ListMessage(model_, kListBox, Style(), msg, wParam, lParam, &r, &changed)) {
      if (changed) {
        if (msg == LB_SETCURSEL || msg == LB_SELECTSTRING) ShowRow(model_.current);
        Update();
      }
      return r;
    }
    switch (msg) {
      case LB_GETTOPINDEX:
        return top_;
      case LB_SETTOPINDEX:
        if (!model_.Valid(static_cast<int>(wParam))) return LB_ERR;
        top_ = static_cast<int>(wParam);
        Update();
        return 0;
      case LB_GETITEMRECT: {
        int i = static_cast<int>(wParam);
        if (!model_.Valid(i) || !lParam) return LB_ERR;
        RECT a = Area();
        *reinterpret_cast<RECT*>(lParam) = RECT{a.left, a.top + (i - top_) * RowH(), a.right, a.top + (i - top_ + 1) * RowH()};
        return 0;
      }
      case LB_SETITEMHEIGHT:
        rowHeight_ = std::max(1, static_cast<int>(LOWORD(lParam)));
        Update();
        return 0;
      case LB_GETITEMHEIGHT:
        return RowH();
      case LB_ITEMFROMPOINT: {
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        int i = RowAt(p);
        bool outside = !model_.Valid(i);
        return MAKELRESULT(std::max(0, std::min(i, model_.Count() - 1)), outside ? 1 : 0);
      }
      case WM_GETDLGCODE:
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
      case WM_SETFOCUS:
        if (Style() & LBS_NOTIFY) Command(LBN_SETFOCUS);
        Redraw();
        return 0;
      case WM_KILLFOCUS:
        if (Style() & LBS_NOTIFY) Command(LBN_KILLFOCUS);
        Redraw();
        return 0;
      case WM_LBUTTONDOWN:
      case WM_LBUTTONDBLCLK: {
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (GetFocus() != hwnd_) SetFocus(hwnd_);
        if (bar_.Needed()) {
          bar_.SetRect(BarRect());
          int code = bar_.Down(p);
          if (code >= 0) {
            SetCapture(hwnd_);
            Scroll(code, 0);
            return 0;
          }
        }
        int i = RowAt(p);
        if (model_.Valid(i)) {
          Choose(i, true);
          if (msg == WM_LBUTTONDBLCLK && (Style() & LBS_NOTIFY)) Command(LBN_DBLCLK);
        }
        tracking_ = true;
        SetCapture(hwnd_);
        return 0;
      }
      case WM_MOUSEMOVE: {
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (bar_.Dragging()) {
          int pos = 0;
          if (bar_.Drag(p, &pos) >= 0) Scroll(SB_THUMBTRACK, pos);
          return 0;
        }
        if (tracking_ && model_.Count() > 0) {
          int i = std::clamp(RowAt(p), 0, model_.Count() - 1);
          if (model_.Valid(i)) {
            ShowRow(i);
            Choose(i, true);
          }
        }
        return 0;
      }
      case WM_LBUTTONUP:
      case WM_CAPTURECHANGED:
        tracking_ = false;
        bar_.Up();
        if (msg == WM_LBUTTONUP && GetCapture() == hwnd_) ReleaseCapture();
        Redraw();
        return 0;
      case WM_KEYDOWN: {
        int n = model_.Count();
        if (n == 0) return 0;
        int cur = model_.current, page = std::max(1, Area().bottom / RowH() - 1);
        int next = cur;
        switch (wParam) {
          case VK_UP: next = cur < 0 ? 0 : cur - 1; break;
          case VK_DOWN: next = cur + 1; break;
          case VK_PRIOR: next = cur - page; break;
          case VK_NEXT: next = cur + page; break;
          case VK_HOME: next = 0; break;
          case VK_END: next = n - 1; break;
          default: return 0;
        }
        next = std::clamp(next, 0, n - 1);
        ShowRow(next);
        Choose(next, true);
        return 0;
      }
      case WM_CHAR: {
        if (wParam < 0x20) return 0;
        int i = model_.Find(model_.current, std::u16string(1, static_cast<char16_t>(wParam)), false);
        if (i >= 0) {
          ShowRow(i);
          Choose(i, true);
        }
        return 0;
      }
      case WM_VSCROLL:
        if (!lParam) Scroll(LOWORD(wParam), static_cast<short>(HIWORD(wParam)));
        return 0;
      default:
        return Control::Handle(msg, wParam, lParam);
    }
  }

  void Paint(HDC dc) override {
    RECT r = Client();
    HBRUSH brush = ParentColours(hwnd_, dc, WM_CTLCOLORLISTBOX);
    if (brush)
      FillRect(dc, &r, brush);
    else
      Fill(dc, r, Sys(COLOR_WINDOW));
    if (Bordered()) Frame(dc, r, Focused() ? Sys(COLOR_HIGHLIGHT) : Sys(COLOR_BTNSHADOW), std::max(1, Scale(1)));
    SyncBar();
    if (bar_.Needed()) {
      bar_.SetRect(BarRect());
      bar_.Paint(dc, Enabled());
    }
    RECT a = Area();
    SaveDC(dc);
    IntersectClipRect(dc, a.left, a.top, a.right, a.bottom);
    PaintRows(dc, hwnd_, model_, a, top_, RowH(), (Style() & LBS_OWNERDRAWFIXED) != 0, ODT_LISTBOX, Focused(),
              model_.current);
    RestoreDC(dc, -1);
  }

 private:
  bool Bordered() const { return (Style() & WS_BORDER) || (GetWindowLongW(hwnd_, GWL_EXSTYLE) & WS_EX_CLIENTEDGE); }
  int Edge() const { return Bordered() ? std::max(1, Scale(1)) : 0; }
  RECT BarRect() const {
    RECT r = Client();
    int b = Edge();
    return RECT{r.right - b - qk::ControlScrollBarWidth(), r.top + b, r.right - b, r.bottom - b};
  }
  RECT Area() {
    RECT r = Client();
    int b = Edge();
    RECT a{r.left + b, r.top + b, r.right - b, r.bottom - b};
    SyncBar();
    if (bar_.Needed()) a.right -= qk::ControlScrollBarWidth();
    return a;
  }
  int RowH() {
    if (!rowHeight_) {
      if (Style() & LBS_OWNERDRAWFIXED) {
        MEASUREITEMSTRUCT mis{ODT_LISTBOX, static_cast<UINT>(GetDlgCtrlID(hwnd_)), 0, 0,
                              static_cast<UINT>(LineHeight()), 0};
        SendMessageW(GetParent(hwnd_), WM_MEASUREITEM, mis.CtlID, reinterpret_cast<LPARAM>(&mis));
        rowHeight_ = std::max<int>(1, static_cast<int>(mis.itemHeight));
      } else {
        rowHeight_ = LineHeight() + Scale(6);
      }
    }
    return rowHeight_;
  }
  int Visible() {
    RECT r = Client();
    return std::max(1, static_cast<int>((r.bottom - 2 * Edge()) / RowH()));
  }
  void SyncBar() {
    SCROLLINFO si{sizeof si, SIF_ALL, 0, model_.Count() - 1, static_cast<UINT>(Visible()), top_, 0};
    bar_.SetInfo(si);
  }
  int RowAt(POINT p) {
    RECT a = Area();
    if (p.y < a.top) return top_ - 1;
    return top_ + (p.y - a.top) / RowH();
  }
  void ShowRow(int i) {
    if (i < 0) return;
    int visible = Visible();
    if (i < top_) top_ = i;
    if (i >= top_ + visible) top_ = i - visible + 1;
  }
  void Update() {
    top_ = std::clamp(top_, 0, std::max(0, model_.Count() - Visible()));
    Redraw();
  }
  void Choose(int i, bool notify) {
    if (i == model_.current) {
      Update();
      return;
    }
    model_.current = i;
    Update();
    if (notify && (Style() & LBS_NOTIFY)) Command(LBN_SELCHANGE);
  }
  void Scroll(int code, int pos) {
    int visible = Visible();
    switch (code) {
      case SB_LINEUP: top_ -= 1; break;
      case SB_LINEDOWN: top_ += 1; break;
      case SB_PAGEUP: top_ -= visible; break;
      case SB_PAGEDOWN: top_ += visible; break;
      case SB_THUMBTRACK:
      case SB_THUMBPOSITION: top_ = pos; break;
      default: break;
    }
    Update();
  }

  ListModel model_;
  int top_ = 0;
  int rowHeight_ = 0;
  bool tracking_ = false;
  ScrollPart bar_;
};

// ---------------------------------------------------------------- combo box

class ComboBox;

// The pop-up list of an open combo box (a top-level window owned by it).
class DropList : public Control {
 public:
  using Control::Control;
  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void Paint(HDC dc) override;
  // Marks entry i and scrolls it into view.
  void Mark(int i);
  ComboBox* combo = nullptr;
  int top = 0;
  int hot = -1;
};

class ComboBox : public Control {
 public:
  using Control::Control;
  ~ComboBox() override { Close(false); }

  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) override {
    LRESULT r = 0;
    bool changed = false;
    if (ListMessage(model_, kComboBox, Style(), msg, wParam, lParam, &r, &changed)) {
      if (changed) ShowChoice();
      return r;
    }
    switch (msg) {
      case CB_SHOWDROPDOWN:
        if (wParam)
          Open();
        else
          Close(false);
        return TRUE;
      case CB_GETDROPPEDSTATE:
        return drop_ != nullptr;
      case CB_GETDROPPEDCONTROLRECT:
        if (lParam) *reinterpret_cast<RECT*>(lParam) = DropRect();
        return TRUE;
      case CB_SETITEMHEIGHT:
        if (static_cast<INT_PTR>(wParam) >= 0) rowHeight_ = std::max(1, static_cast<int>(lParam));
        return 0;
      case CB_GETITEMHEIGHT:
        return static_cast<INT_PTR>(wParam) == -1 ? Height() : RowH();
      case WM_GETDLGCODE:
        return DLGC_WANTARROWS | DLGC_WANTCHARS | (drop_ ? DLGC_WANTALLKEYS : 0);
      case WM_SETFOCUS:
        Command(CBN_SETFOCUS);
        Redraw();
        return 0;
      case WM_KILLFOCUS:
        Close(false);
        Command(CBN_KILLFOCUS);
        Redraw();
        return 0;
      case WM_LBUTTONDOWN:
      case WM_LBUTTONDBLCLK:
        if (GetFocus() != hwnd_) SetFocus(hwnd_);
        if (drop_)
          Close(false);
        else
          Open();
        return 0;
      case WM_KEYDOWN: {
        if (drop_) {
          if (wParam == VK_RETURN) return Close(true), 0;
          if (wParam == VK_ESCAPE || wParam == VK_F4) return Close(false), 0;
        } else if (wParam == VK_F4) {
          Open();
          return 0;
        }
        int n = model_.Count();
        if (n == 0) return 0;
        auto* list = drop_ ? ControlOf<DropList>(drop_) : nullptr;
        // While the list is open the keys move its mark; Enter takes it.
        int cur = list ? list->hot : model_.current, next = cur;
        switch (wParam) {
          case VK_UP: next = cur < 0 ? 0 : cur - 1; break;
          case VK_DOWN: next = cur + 1; break;
          case VK_HOME: next = 0; break;
          case VK_END: next = n - 1; break;
          default: return 0;
        }
        next = std::clamp(next, 0, n - 1);
        if (list) {
          list->Mark(next);
          return 0;
        }
        Choose(next);
        return 0;
      }
      case WM_CHAR: {
        if (wParam < 0x20) return 0;
        int i = model_.Find(model_.current, std::u16string(1, static_cast<char16_t>(wParam)), false);
        if (i >= 0) Choose(i);
        return 0;
      }
      case WM_DESTROY:
        Close(false);
        return 0;
      case WM_SETFONT:
        Control::Handle(msg, wParam, lParam);
        FitField();
        return 0;
      case WM_SIZE:
        FitField();
        Redraw();
        return 0;
      default:
        return Control::Handle(msg, wParam, lParam);
    }
  }

  void Paint(HDC dc) override {
    RECT r = Client();
    HBRUSH brush = ParentColours(hwnd_, dc, WM_CTLCOLORSTATIC);
    bool enabled = Enabled();
    COLORREF ground = Sys(COLOR_WINDOW);
    if (brush)
      FillRect(dc, &r, brush);
    else
      Fill(dc, r, ground);
    RECT box = FieldRect();
    int line = std::max(1, Scale(1));
    Fill(dc, box, Sys(COLOR_WINDOW));
    Frame(dc, box, enabled && (Focused() || drop_) ? Sys(COLOR_HIGHLIGHT) : Sys(COLOR_BTNSHADOW), line);
    int arrowW = std::min<int>(qk::ControlScrollBarWidth() + Scale(4), (box.right - box.left) / 2);
    RECT arrow{box.right - line - arrowW, box.top + line, box.right - line, box.bottom - line};
    Fill(dc, arrow, drop_ ? Sys(COLOR_HIGHLIGHT) : Blend(Sys(COLOR_BTNFACE), Sys(COLOR_WINDOW), 140));
    DrawArrow(dc, arrow, Arrow::Down,
              !enabled ? Sys(COLOR_GRAYTEXT) : drop_ ? Sys(COLOR_HIGHLIGHTTEXT) : Sys(COLOR_BTNTEXT));
    RECT tr{box.left + line, box.top + line, arrow.left, box.bottom - line};
    bool mark = Focused() && !drop_ && enabled;
    if (mark) {
      RECT m = tr;
      InflateRect(&m, -line, -line);
      Fill(dc, m, Sys(COLOR_HIGHLIGHT));
    }
    InflateRect(&tr, -Scale(4), 0);
    if (model_.Valid(model_.current))
      DrawLabel(dc, model_.items[static_cast<size_t>(model_.current)], tr, DT_LEFT,
                !enabled ? Sys(COLOR_GRAYTEXT) : mark ? Sys(COLOR_HIGHLIGHTTEXT) : Sys(COLOR_WINDOWTEXT));
  }

  // Closes the pop-up; with ok the entry under the pointer or keys is taken.
  void Close(bool ok, int chosen = -2) {
    if (!drop_) return;
    HWND drop = drop_;
    drop_ = nullptr;
    auto* list = ControlOf<DropList>(drop);
    int pick = chosen != -2 ? chosen : (list ? list->hot : -1);
    if (GetCapture() == drop) ReleaseCapture();
    DestroyWindow(drop);
    // Whatever the pop-up covered is drawn again.
    HWND top = hwnd_;
    while (GetParent(top) && (GetWindowLongW(top, GWL_STYLE) & WS_CHILD)) top = GetParent(top);
    InvalidateTree(top);
    Command(ok ? CBN_SELENDOK : CBN_SELENDCANCEL);
    Command(CBN_CLOSEUP);
    if (ok && model_.Valid(pick) && pick != model_.current) Choose(pick);
    Redraw();
  }

  ListModel model_;
  HWND drop_ = nullptr;

  int RowH() {
    if (!rowHeight_) rowHeight_ = LineHeight() + Scale(10);
    return rowHeight_;
  }

 private:
  RECT FieldRect() const { return Client(); }
  int FieldHeight() const { return LineHeight() + Scale(10); }
  // Templates give a combo box the height of the field and its open list
  // together: the window keeps the field's height, the rest is the list's.
  void FitField() {
    if (fitting_) return;
    RECT w{};
    GetWindowRect(hwnd_, &w);
    int h = w.bottom - w.top, field = FieldHeight();
    if (h == field) return;
    if (h > field) listHeight_ = h - field;
    POINT tl{w.left, w.top};
    HWND parent = GetParent(hwnd_);
    if (parent && (Style() & WS_CHILD)) ScreenToClient(parent, &tl);
    fitting_ = true;
    SetWindowPos(hwnd_, nullptr, tl.x, tl.y, w.right - w.left, field, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    fitting_ = false;
  }
  int DropRows() {
    int fit = std::max(3, listHeight_ / std::max(1, RowH()));
    return std::clamp(model_.Count(), 1, fit);
  }
  RECT DropRect() {
    RECT w{};
    GetWindowRect(hwnd_, &w);
    RECT f = FieldRect();
    int h = DropRows() * RowH() + 2 * std::max(1, Scale(1));
    int below = w.top + (f.bottom - f.top);
    if (below + h > GetSystemMetrics(SM_CYSCREEN) && w.top - h >= 0) return RECT{w.left, w.top - h, w.right, w.top};
    return RECT{w.left, below, w.right, below + h};
  }
  void ShowChoice() {
    const char16_t* text = model_.Valid(model_.current) ? model_.items[static_cast<size_t>(model_.current)].c_str() : u"";
    DefWindowProcW(hwnd_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    Redraw();
  }
  void Choose(int i) {
    if (i == model_.current) return;
    model_.current = i;
    ShowChoice();
    Command(CBN_SELCHANGE);
  }
  void Open() {
    if (drop_ || !Enabled()) return;
    Command(CBN_DROPDOWN);
    RECT d = DropRect();
    // The list never takes the activation or the focus: the combo box keeps
    // the keys, and the list holds the pointer capture while it is open.
    drop_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, u"QuilletComboDrop", u"", WS_POPUP, d.left, d.top,
                            d.right - d.left, d.bottom - d.top, hwnd_, nullptr, nullptr, nullptr);
    if (!drop_) return;
    ShowWindow(drop_, SW_SHOWNA);
    SendMessageW(drop_, WM_SETFONT, reinterpret_cast<WPARAM>(Font()), 0);
    auto* list = ControlOf<DropList>(drop_);
    if (list) {
      list->combo = this;
      list->hot = model_.current;
      int rows = DropRows();
      list->top = std::clamp(model_.current - rows / 2, 0, std::max(0, model_.Count() - rows));
    }
    SetCapture(drop_);
    UpdateWindow(drop_);
    Redraw();
  }

  int rowHeight_ = 0;
  int listHeight_ = 0;
  bool fitting_ = false;
};

LRESULT DropList::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  auto rowAt = [&](LPARAM lp) {
    POINT p{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
    RECT r = Client();
    if (!PtInRect(&r, p) || !combo) return -2;
    int line = std::max(1, Scale(1));
    int i = top + (p.y - line) / combo->RowH();
    return combo->model_.Valid(i) ? i : -1;
  };
  switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_MOUSEMOVE: {
      int i = rowAt(lParam);
      if (i == -2 && msg == WM_LBUTTONDOWN) {
        if (combo) combo->Close(false);  // a tap outside the list closes it
        return 0;
      }
      if (i >= 0 && i != hot) {
        hot = i;
        Redraw();
      }
      return 0;
    }
    case WM_LBUTTONUP: {
      int i = rowAt(lParam);
      if (i >= 0 && combo) combo->Close(true, i);
      return 0;
    }
    case WM_CAPTURECHANGED:
      return 0;
    default:
      return Control::Handle(msg, wParam, lParam);
  }
}

void DropList::Mark(int i) {
  if (!combo) return;
  int line = std::max(1, Scale(1));
  int rows = std::max(1, (Height() - 2 * line) / combo->RowH());
  if (i < top) top = i;
  if (i >= top + rows) top = i - rows + 1;
  hot = i;
  Redraw();
}

void DropList::Paint(HDC dc) {
  RECT r = Client();
  Fill(dc, r, Sys(COLOR_WINDOW));
  int line = std::max(1, Scale(1));
  Frame(dc, r, Sys(COLOR_BTNSHADOW), line);
  if (!combo) return;
  RECT a{r.left + line, r.top + line, r.right - line, r.bottom - line};
  SaveDC(dc);
  IntersectClipRect(dc, a.left, a.top, a.right, a.bottom);
  ListModel shown = combo->model_;
  shown.current = hot;
  PaintRows(dc, hwnd_, shown, a, top, combo->RowH(), false, ODT_COMBOBOX, false, -1);
  RestoreDC(dc, -1);
}

}  // namespace

void RegisterListBox() { RegisterClass(u"LISTBOX", ControlProc<ListBox>); }
void RegisterComboBox() {
  RegisterClass(u"COMBOBOX", ControlProc<ComboBox>);
  RegisterClass(u"QuilletComboDrop", ControlProc<DropList>);
}

}  // namespace qk::controls
