// "BUTTON": push buttons, check boxes (two and three states), radio buttons,
// group boxes and owner-drawn buttons.
#include <algorithm>

#include "controls/control.h"
#include "kernel/wstring.h"

namespace qk::controls {
namespace {

bool IsButton(HWND hwnd) {
  WCHAR cls[16];
  GetClassNameW(hwnd, cls, 16);
  return _wcsicmp(cls, u"BUTTON") == 0;
}

class Button : public Control {
 public:
  using Control::Control;

  DWORD Type() const { return Style() & BS_TYPEMASK; }
  bool IsPush() const { return Type() == BS_PUSHBUTTON || Type() == BS_DEFPUSHBUTTON; }
  bool IsCheck() const {
    DWORD t = Type();
    return t == BS_CHECKBOX || t == BS_AUTOCHECKBOX || t == BS_3STATE || t == BS_AUTO3STATE;
  }
  bool IsRadio() const { return Type() == BS_RADIOBUTTON || Type() == BS_AUTORADIOBUTTON; }

  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) override {
    switch (msg) {
      case BM_GETCHECK:
        return check_;
      case BM_SETCHECK:
        if (IsCheck() || IsRadio()) SetCheck(static_cast<UINT>(wParam));
        return 0;
      case BM_GETSTATE:
        return check_ | (pushed_ ? BST_PUSHED : 0) | (Focused() ? BST_FOCUS : 0);
      case BM_SETSTATE:
        if (pushed_ != (wParam != 0)) {
          pushed_ = wParam != 0;
          Redraw();
        }
        return 0;
      case BM_SETSTYLE: {
        DWORD style = (Style() & ~0xFFFFu) | (static_cast<DWORD>(wParam) & 0xFFFFu);
        SetWindowLongW(hwnd_, GWL_STYLE, static_cast<LONG_PTR>(style));
        if (LOWORD(lParam)) Redraw();
        return 0;
      }
      case BM_CLICK:
        if (Enabled()) Click();
        return 0;
      case WM_GETDLGCODE:
        if (Type() == BS_GROUPBOX) return DLGC_STATIC;
        if (IsRadio()) return DLGC_BUTTON | DLGC_RADIOBUTTON;
        if (Type() == BS_DEFPUSHBUTTON) return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
        if (Type() == BS_PUSHBUTTON || Type() == BS_OWNERDRAW) return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
        return DLGC_BUTTON;
      case WM_LBUTTONDOWN:
      case WM_LBUTTONDBLCLK:
        if (Type() == BS_GROUPBOX) return 0;
        if (GetFocus() != hwnd_) SetFocus(hwnd_);
        SetCapture(hwnd_);
        tracking_ = true;
        SetPushed(true);
        return 0;
      case WM_MOUSEMOVE:
        if (tracking_) SetPushed(Inside(lParam));
        return 0;
      case WM_LBUTTONUP: {
        bool click = tracking_ && pushed_ && Inside(lParam);
        tracking_ = false;
        SetPushed(false);
        if (GetCapture() == hwnd_) ReleaseCapture();
        if (click) Click();
        return 0;
      }
      case WM_CAPTURECHANGED:
        if (tracking_) {
          tracking_ = false;
          SetPushed(false);
        }
        return 0;
      case WM_KEYDOWN:
        if (wParam == VK_SPACE && Type() != BS_GROUPBOX) SetPushed(true);
        return 0;
      case WM_KEYUP:
        if (wParam == VK_SPACE && pushed_) {
          SetPushed(false);
          Click();
        }
        return 0;
      case WM_CHAR:
        return 0;
      case WM_SETFOCUS:
        if (Style() & BS_NOTIFY) Command(BN_SETFOCUS);
        Redraw();
        return 0;
      case WM_KILLFOCUS:
        if (pushed_ && !tracking_) SetPushed(false);
        if (Style() & BS_NOTIFY) Command(BN_KILLFOCUS);
        Redraw();
        return 0;
      default:
        return Control::Handle(msg, wParam, lParam);
    }
  }

  void Paint(HDC dc) override {
    RECT r = Client();
    bool enabled = Enabled();
    if (Type() == BS_OWNERDRAW) {
      DRAWITEMSTRUCT dis{};
      dis.CtlType = ODT_BUTTON;
      dis.CtlID = static_cast<UINT>(GetDlgCtrlID(hwnd_));
      dis.itemAction = ODA_DRAWENTIRE;
      dis.itemState = (pushed_ ? ODS_SELECTED : 0) | (enabled ? 0 : ODS_DISABLED) | (Focused() ? ODS_FOCUS : 0);
      dis.hwndItem = hwnd_;
      dis.hDC = dc;
      dis.rcItem = r;
      Fill(dc, r, Sys(COLOR_WINDOW));
      SendMessageW(GetParent(hwnd_), WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
      return;
    }
    if (IsPush() || (Style() & BS_PUSHLIKE)) return PaintPush(dc, r, enabled);
    // Check boxes, radio buttons and group boxes stand on the parent's ground.
    HBRUSH brush = ParentColours(hwnd_, dc, WM_CTLCOLORSTATIC);
    COLORREF textColour = enabled ? GetTextColor(dc) : Sys(COLOR_GRAYTEXT);
    if (brush)
      FillRect(dc, &r, brush);
    else
      Fill(dc, r, Sys(COLOR_WINDOW));
    if (Type() == BS_GROUPBOX) return PaintGroup(dc, r, textColour);
    PaintMark(dc, r, enabled, textColour);
  }

 private:
  bool Inside(LPARAM lParam) const {
    POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    RECT r = Client();
    return PtInRect(&r, p) != FALSE;
  }

  void SetPushed(bool on) {
    if (pushed_ == on) return;
    pushed_ = on;
    Redraw();
  }

  void SetCheck(UINT state) {
    if (check_ == state) return;
    check_ = state;
    Redraw();
  }

  // The group of a radio button: from the nearest sibling at or before it
  // that starts a group (WS_GROUP, or the first sibling) up to the next
  // sibling that starts one.
  void ClearGroup() {
    HWND start = hwnd_;
    for (HWND w = hwnd_; w; w = GetWindow(w, GW_HWNDPREV)) {
      start = w;
      if (GetWindowLongW(w, GWL_STYLE) & WS_GROUP) break;
    }
    for (HWND w = start; w; w = GetWindow(w, GW_HWNDNEXT)) {
      if (w != start && (GetWindowLongW(w, GWL_STYLE) & WS_GROUP)) break;
      if (w == hwnd_ || !IsButton(w)) continue;
      if ((static_cast<DWORD>(GetWindowLongW(w, GWL_STYLE)) & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
        SendMessageW(w, BM_SETCHECK, BST_UNCHECKED, 0);
    }
  }

  void Click() {
    switch (Type()) {
      case BS_AUTOCHECKBOX:
        SetCheck(check_ == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
        break;
      case BS_AUTO3STATE:
        SetCheck((check_ + 1) % 3);
        break;
      case BS_AUTORADIOBUTTON:
        ClearGroup();
        SetCheck(BST_CHECKED);
        break;
      default:
        break;
    }
    Command(BN_CLICKED);
  }

  void PaintPush(HDC dc, RECT r, bool enabled) {
    HBRUSH ground = ParentColours(hwnd_, dc, WM_CTLCOLORBTN);
    if (ground)
      FillRect(dc, &r, ground);
    else
      Fill(dc, r, Sys(COLOR_WINDOW));
    bool down = pushed_ || ((Style() & BS_PUSHLIKE) && check_ == BST_CHECKED);
    bool isDefault = Type() == BS_DEFPUSHBUTTON;
    int line = std::max(1, Scale(1));
    COLORREF face = down ? Sys(COLOR_HIGHLIGHT) : Blend(Sys(COLOR_BTNFACE), Sys(COLOR_WINDOW), 140);
    Fill(dc, r, face);
    COLORREF edge = enabled && (isDefault || Focused()) ? Sys(COLOR_HIGHLIGHT) : Sys(COLOR_BTNSHADOW);
    Frame(dc, r, edge, isDefault && enabled ? 2 * line : line);
    if (Focused() && !down) {
      RECT inner = r;
      InflateRect(&inner, -3 * line, -3 * line);
      Frame(dc, inner, Blend(Sys(COLOR_HIGHLIGHT), face, 120), line);
    }
    COLORREF text = !enabled ? Sys(COLOR_GRAYTEXT) : down ? Sys(COLOR_HIGHLIGHTTEXT) : Sys(COLOR_BTNTEXT);
    RECT tr = r;
    InflateRect(&tr, -Scale(4), -line);
    std::u16string label = Text();
    SetTextColor(dc, text);
    SetBkMode(dc, TRANSPARENT);
    if (Style() & BS_MULTILINE) {
      RECT calc = tr;
      DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &calc, DT_CALCRECT | DT_WORDBREAK | DT_CENTER);
      int h = calc.bottom - calc.top;
      tr.top += std::max(0, ((tr.bottom - tr.top) - h) / 2);
      DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &tr, DT_WORDBREAK | DT_CENTER | DT_NOPREFIX);
    } else {
      UINT align = (Style() & BS_CENTER) == BS_LEFT ? DT_LEFT : (Style() & BS_CENTER) == BS_RIGHT ? DT_RIGHT : DT_CENTER;
      DrawLabel(dc, label, tr, align, text);
    }
  }

  void PaintGroup(HDC dc, RECT r, COLORREF textColour) {
    int lh = LineHeight();
    RECT box{r.left, r.top + lh / 2, r.right, r.bottom};
    Frame(dc, box, Sys(COLOR_BTNSHADOW), std::max(1, Scale(1)));
    std::u16string label = Text();
    if (label.empty()) return;
    SIZE size{};
    GetTextExtentPoint32W(dc, label.c_str(), static_cast<int>(label.size()), &size);
    RECT tr{r.left + Scale(6), r.top, std::min<LONG>(r.right - Scale(6), r.left + Scale(10) + size.cx), r.top + lh};
    Fill(dc, tr, Sys(COLOR_WINDOW));
    InflateRect(&tr, -Scale(2), 0);
    DrawLabel(dc, label, tr, DT_LEFT, textColour);
  }

  void PaintMark(HDC dc, RECT r, bool enabled, COLORREF textColour) {
    int line = std::max(1, Scale(1));
    int box = std::min<int>(Scale(13), r.bottom - r.top);
    bool leftText = (Style() & BS_LEFTTEXT) != 0;
    int bx = leftText ? r.right - box - line : r.left + line;
    int by = r.top + (r.bottom - r.top - box) / 2;
    RECT mark{bx, by, bx + box, by + box};
    COLORREF accent = enabled ? Sys(COLOR_HIGHLIGHT) : Sys(COLOR_GRAYTEXT);
    COLORREF edge = !enabled ? Sys(COLOR_GRAYTEXT) : (Focused() || pushed_) ? Sys(COLOR_HIGHLIGHT) : Sys(COLOR_BTNSHADOW);
    COLORREF inside = pushed_ ? Blend(Sys(COLOR_HIGHLIGHT), Sys(COLOR_WINDOW), 60) : Sys(COLOR_WINDOW);
    if (IsRadio()) {
      DrawDisc(dc, mark, edge);
      RECT in = mark;
      InflateRect(&in, -line, -line);
      DrawDisc(dc, in, inside);
      if (check_ == BST_CHECKED) {
        RECT dot = mark;
        InflateRect(&dot, -box * 3 / 10, -box * 3 / 10);
        DrawDisc(dc, dot, accent);
      }
    } else {
      if (check_ == BST_CHECKED) {
        Fill(dc, mark, accent);
        RECT m = mark;
        InflateRect(&m, -line, -line);
        DrawCheckMark(dc, m, Sys(COLOR_HIGHLIGHTTEXT));
      } else {
        Fill(dc, mark, inside);
        Frame(dc, mark, edge, line);
        if (check_ == BST_INDETERMINATE) {
          RECT m = mark;
          InflateRect(&m, -box / 4, -box / 4);
          Fill(dc, m, accent);
        }
      }
    }
    int gap = Scale(6);
    RECT tr = r;
    if (leftText) {
      tr.right = mark.left - gap;
      tr.left += line;
    } else {
      tr.left = mark.right + gap;
      tr.right -= line;
    }
    std::u16string label = Text();
    if (Style() & BS_MULTILINE) {
      SetTextColor(dc, textColour);
      RECT calc = tr;
      DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &calc, DT_CALCRECT | DT_WORDBREAK);
      tr.top += std::max(0, ((tr.bottom - tr.top) - (calc.bottom - calc.top)) / 2);
      DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &tr, DT_WORDBREAK | DT_NOPREFIX);
    } else {
      DrawLabel(dc, label, tr, leftText ? DT_RIGHT : DT_LEFT, textColour);
    }
    if (Focused() && !label.empty()) {
      SIZE size{};
      GetTextExtentPoint32W(dc, label.c_str(), static_cast<int>(label.size()), &size);
      int lh = LineHeight();
      int top = r.top + (r.bottom - r.top - lh) / 2;
      int w = std::min<int>(size.cx, tr.right - tr.left);
      int x = leftText ? tr.right - w : tr.left;
      Fill(dc, RECT{x, std::min<LONG>(r.bottom - line, top + lh), x + w, std::min<LONG>(r.bottom, top + lh + line)},
           Sys(COLOR_HIGHLIGHT));
    }
  }

  UINT check_ = BST_UNCHECKED;
  bool pushed_ = false;
  bool tracking_ = false;
};

}  // namespace

void RegisterButton() { RegisterClass(u"BUTTON", ControlProc<Button>); }

}  // namespace qk::controls
