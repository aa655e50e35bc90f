// "STATIC": text (left, centred, right, word-wrapped or not), bitmaps,
// filled and framed rectangles; with SS_NOTIFY a tap reports STN_CLICKED.
#include <algorithm>

#include "controls/control.h"

namespace qk::controls {
namespace {

class Static : public Control {
 public:
  using Control::Control;

  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) override {
    switch (msg) {
      case STM_SETIMAGE: {
        LPARAM old = reinterpret_cast<LPARAM>(image_);
        image_ = reinterpret_cast<HGDIOBJ>(lParam);
        imageType_ = static_cast<UINT>(wParam);
        Redraw();
        return old;
      }
      case STM_GETIMAGE:
        return reinterpret_cast<LRESULT>(image_);
      case WM_GETDLGCODE:
        return DLGC_STATIC;
      case WM_LBUTTONDOWN:
        if (Style() & SS_NOTIFY) pressed_ = true;
        return 0;
      case WM_LBUTTONUP:
        if (pressed_ && (Style() & SS_NOTIFY)) Command(STN_CLICKED);
        pressed_ = false;
        return 0;
      case WM_LBUTTONDBLCLK:
        if (Style() & SS_NOTIFY) Command(STN_DBLCLK);
        return 0;
      case WM_SETFOCUS:
      case WM_KILLFOCUS:
        return 0;
      default:
        return Control::Handle(msg, wParam, lParam);
    }
  }

  void Paint(HDC dc) override {
    RECT r = Client();
    DWORD type = Style() & SS_TYPEMASK;
    HBRUSH brush = ParentColours(hwnd_, dc, WM_CTLCOLORSTATIC);
    COLORREF text = GetTextColor(dc);
    if (brush)
      FillRect(dc, &r, brush);
    else
      Fill(dc, r, Sys(COLOR_WINDOW));
    int line = std::max(1, Scale(1));
    switch (type) {
      case SS_BLACKRECT:
        return Fill(dc, r, Sys(COLOR_WINDOWFRAME));
      case SS_GRAYRECT:
        return Fill(dc, r, Sys(COLOR_BTNSHADOW));
      case SS_WHITERECT:
        return Fill(dc, r, Sys(COLOR_WINDOW));
      case SS_BLACKFRAME:
        return Frame(dc, r, Sys(COLOR_WINDOWFRAME), line);
      case SS_GRAYFRAME:
        return Frame(dc, r, Sys(COLOR_BTNSHADOW), line);
      case SS_WHITEFRAME:
        return Frame(dc, r, Sys(COLOR_WINDOW), line);
      case SS_BITMAP:
        PaintBitmap(dc, r);
        return;
      case SS_ICON:
        return;
      default:
        break;
    }
    if (Style() & SS_SUNKEN) Frame(dc, r, Sys(COLOR_BTNSHADOW), line);
    std::u16string label = Text();
    if (label.empty()) return;
    UINT format = DT_NOPREFIX;  // no mnemonics are drawn
    if (type == SS_CENTER)
      format |= DT_CENTER | DT_WORDBREAK;
    else if (type == SS_RIGHT)
      format |= DT_RIGHT | DT_WORDBREAK;
    else if (type == SS_LEFTNOWORDWRAP || type == SS_SIMPLE)
      format |= DT_SINGLELINE | DT_END_ELLIPSIS;
    else
      format |= DT_WORDBREAK;
    format |= DT_EXPANDTABS;
    if (!Enabled()) text = Sys(COLOR_GRAYTEXT);
    SetTextColor(dc, text);
    SetBkMode(dc, TRANSPARENT);
    RECT tr = r;
    if (Style() & SS_CENTERIMAGE) {
      RECT calc = tr;
      DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &calc, format | DT_CALCRECT);
      tr.top += std::max(0, ((r.bottom - r.top) - (calc.bottom - calc.top)) / 2);
    }
    DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &tr, format);
  }

 private:
  void PaintBitmap(HDC dc, const RECT& r) {
    if (!image_ || imageType_ != IMAGE_BITMAP) return;
    BITMAP bm{};
    if (!GetObjectW(image_, sizeof bm, &bm)) return;
    HDC src = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(src, image_);
    int x = r.left, y = r.top;
    if (Style() & SS_CENTERIMAGE) {
      x += (r.right - r.left - bm.bmWidth) / 2;
      y += (r.bottom - r.top - bm.bmHeight) / 2;
    }
    BitBlt(dc, x, y, bm.bmWidth, bm.bmHeight, src, 0, 0, SRCCOPY);
    SelectObject(src, old);
    DeleteDC(src);
  }

  HGDIOBJ image_ = nullptr;
  UINT imageType_ = IMAGE_BITMAP;
  bool pressed_ = false;
};

// The tree control of templates that keep it hidden: a framed empty box.
class EmptyTree : public Control {
 public:
  using Control::Control;
  void Paint(HDC dc) override {
    RECT r = Client();
    Fill(dc, r, Sys(COLOR_WINDOW));
    if ((Style() & WS_BORDER) || (GetWindowLongW(hwnd_, GWL_EXSTYLE) & WS_EX_CLIENTEDGE))
      Frame(dc, r, Sys(COLOR_BTNSHADOW), std::max(1, Scale(1)));
  }
};

}  // namespace

void RegisterStatic() {
  RegisterClass(u"STATIC", ControlProc<Static>);
  RegisterClass(u"SysTreeView32", ControlProc<EmptyTree>);
}

}  // namespace qk::controls
