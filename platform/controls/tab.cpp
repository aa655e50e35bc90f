// "SysTabControl32": one row of tabs, at the top or (TCS_BOTTOM) at the
// bottom, each as wide as its text. A tap or Left/Right asks the parent
// with TCN_SELCHANGING (non-zero keeps the current tab) and reports
// TCN_SELCHANGE after the change.
#include <algorithm>

#include "controls/control.h"

namespace qk::controls {
namespace {

class Tab : public Control {
 public:
  using Control::Control;

  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) override {
    int index = static_cast<int>(static_cast<INT_PTR>(wParam));
    switch (msg) {
      case TCM_INSERTITEMW: {
        auto* item = reinterpret_cast<const TCITEMW*>(lParam);
        if (!item || index < 0) return -1;
        Item it;
        Apply(it, *item);
        int at = std::min(index, Count());
        items_.insert(items_.begin() + at, it);
        if (cur_ < 0)
          cur_ = 0;
        else if (cur_ >= at && Count() > 1)
          ++cur_;
        Redraw();
        return at;
      }
      case TCM_SETITEMW: {
        auto* item = reinterpret_cast<const TCITEMW*>(lParam);
        if (!item || !Valid(index)) return FALSE;
        Apply(items_[static_cast<size_t>(index)], *item);
        Redraw();
        return TRUE;
      }
      case TCM_GETITEMW: {
        auto* item = reinterpret_cast<TCITEMW*>(lParam);
        if (!item || !Valid(index)) return FALSE;
        const Item& it = items_[static_cast<size_t>(index)];
        if ((item->mask & TCIF_TEXT) && item->pszText && item->cchTextMax > 0) {
          size_t n = std::min<size_t>(it.text.size(), static_cast<size_t>(item->cchTextMax - 1));
          std::copy_n(it.text.begin(), n, item->pszText);
          item->pszText[n] = 0;
        }
        if (item->mask & TCIF_IMAGE) item->iImage = it.image;
        if (item->mask & TCIF_PARAM) item->lParam = it.param;
        return TRUE;
      }
      case TCM_DELETEITEM:
        if (!Valid(index)) return FALSE;
        items_.erase(items_.begin() + index);
        if (cur_ >= Count()) cur_ = Count() - 1;
        Redraw();
        return TRUE;
      case TCM_DELETEALLITEMS:
        items_.clear();
        cur_ = -1;
        Redraw();
        return TRUE;
      case TCM_GETITEMCOUNT:
        return Count();
      case TCM_GETCURSEL:
      case TCM_GETCURFOCUS:
        return cur_;
      case TCM_SETCURSEL:
      case TCM_SETCURFOCUS: {
        if (!Valid(index)) return -1;
        int old = cur_;
        cur_ = index;
        Redraw();
        return old;
      }
      case TCM_GETITEMRECT:
        if (!Valid(index) || !lParam) return FALSE;
        *reinterpret_cast<RECT*>(lParam) = TabRect(index);
        return TRUE;
      case TCM_HITTEST: {
        auto* info = reinterpret_cast<TCHITTESTINFO*>(lParam);
        if (!info) return -1;
        int i = TabAt(info->pt);
        info->flags = i >= 0 ? TCHT_ONITEM : TCHT_NOWHERE;
        return i;
      }
      case TCM_ADJUSTRECT: {
        auto* r = reinterpret_cast<RECT*>(lParam);
        if (!r) return 0;
        int strip = StripH();
        bool bottom = (Style() & TCS_BOTTOM) != 0;
        int sign = wParam ? 1 : -1;  // TRUE: display area to window, FALSE: window to display area
        int line = std::max(1, Scale(1));
        if (bottom) {
          r->bottom += sign * strip;
          r->top -= sign * line;
        } else {
          r->top -= sign * strip;
          r->bottom += sign * line;
        }
        r->left -= sign * line;
        r->right += sign * line;
        return 0;
      }
      case TCM_SETIMAGELIST: {
        HIMAGELIST old = images_;
        images_ = reinterpret_cast<HIMAGELIST>(lParam);
        Redraw();
        return reinterpret_cast<LRESULT>(old);
      }
      case TCM_GETIMAGELIST:
        return reinterpret_cast<LRESULT>(images_);
      case WM_GETDLGCODE:
        return DLGC_WANTARROWS;
      case WM_LBUTTONDOWN: {
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        int i = TabAt(p);
        if (i >= 0) Select(i);
        return 0;
      }
      case WM_KEYDOWN:
        if (wParam == VK_LEFT && cur_ > 0) Select(cur_ - 1);
        if (wParam == VK_RIGHT && cur_ + 1 < Count()) Select(cur_ + 1);
        return 0;
      default:
        return Control::Handle(msg, wParam, lParam);
    }
  }

  void Paint(HDC dc) override {
    RECT r = Client();
    Fill(dc, r, Sys(COLOR_WINDOW));
    int line = std::max(1, Scale(1));
    bool bottom = (Style() & TCS_BOTTOM) != 0;
    int strip = StripH();
    RECT band = bottom ? RECT{0, r.bottom - strip, r.right, r.bottom} : RECT{0, 0, r.right, strip};
    Fill(dc, band, Blend(Sys(COLOR_BTNFACE), Sys(COLOR_WINDOW), 120));
    RECT page = bottom ? RECT{0, 0, r.right, r.bottom - strip} : RECT{0, strip, r.right, r.bottom};
    Frame(dc, page, Sys(COLOR_BTNSHADOW), line);
    for (int i = 0; i < Count(); ++i) {
      RECT t = TabRect(i);
      bool chosen = i == cur_;
      if (chosen) {
        Fill(dc, t, Sys(COLOR_WINDOW));
        // A bar of the highlight colour on the side away from the page.
        RECT accent = bottom ? RECT{t.left, t.bottom - 3 * line, t.right, t.bottom}
                             : RECT{t.left, t.top, t.right, t.top + 3 * line};
        Fill(dc, accent, Sys(COLOR_HIGHLIGHT));
        // The chosen tab opens into the page.
        Fill(dc, bottom ? RECT{t.left + line, t.top - line, t.right - line, t.top}
                        : RECT{t.left + line, t.bottom - line, t.right - line, t.bottom},
             Sys(COLOR_WINDOW));
      }
      Fill(dc, RECT{t.right - line, t.top + Scale(4), t.right, t.bottom - Scale(4)}, Sys(COLOR_BTNSHADOW));
      RECT tr = t;
      InflateRect(&tr, -Scale(6), 0);
      const Item& it = items_[static_cast<size_t>(i)];
      int cx = 0, cy = 0;
      if (images_ && it.image >= 0 && ImageList_GetIconSize(images_, &cx, &cy)) {
        ImageList_Draw(images_, it.image, dc, tr.left, t.top + (t.bottom - t.top - cy) / 2, ILD_TRANSPARENT);
        tr.left += cx + Scale(3);
      }
      DrawLabel(dc, it.text, tr, DT_CENTER,
                !Enabled() ? Sys(COLOR_GRAYTEXT) : chosen ? Sys(COLOR_WINDOWTEXT) : Sys(COLOR_BTNSHADOW));
    }
    if (Focused() && Valid(cur_)) {
      RECT t = TabRect(cur_);
      InflateRect(&t, -2 * line, -4 * line);
      Frame(dc, t, Blend(Sys(COLOR_HIGHLIGHT), Sys(COLOR_WINDOW), 140), line);
    }
  }

 private:
  struct Item {
    std::u16string text;
    int image = -1;
    LPARAM param = 0;
  };
  int Count() const { return static_cast<int>(items_.size()); }
  bool Valid(int i) const { return i >= 0 && i < Count(); }
  static void Apply(Item& it, const TCITEMW& src) {
    if ((src.mask & TCIF_TEXT) && src.pszText) it.text = src.pszText;
    if (src.mask & TCIF_IMAGE) it.image = src.iImage;
    if (src.mask & TCIF_PARAM) it.param = src.lParam;
  }
  int StripH() { return LineHeight() + Scale(12); }
  RECT TabRect(int i) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, Font());
    int x = 0;
    RECT out{};
    int cx = 0, cy = 0;
    bool icons = images_ && ImageList_GetIconSize(images_, &cx, &cy);
    for (int k = 0; k <= i && k < Count(); ++k) {
      const Item& it = items_[static_cast<size_t>(k)];
      SIZE s{};
      GetTextExtentPoint32W(dc, it.text.c_str(), static_cast<int>(it.text.size()), &s);
      int w = s.cx + Scale(20) + (icons && it.image >= 0 ? cx + Scale(3) : 0);
      w = std::max(w, Scale(48));
      if (k == i) {
        int strip = StripH();
        RECT r = Client();
        out = (Style() & TCS_BOTTOM) ? RECT{x, r.bottom - strip, x + w, r.bottom} : RECT{x, 0, x + w, strip};
      }
      x += w;
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    return out;
  }
  int TabAt(POINT p) {
    for (int i = 0; i < Count(); ++i) {
      RECT t = TabRect(i);
      if (PtInRect(&t, p)) return i;
    }
    return -1;
  }
  void Select(int i) {
    if (i == cur_) return;
    if (Notify(TCN_SELCHANGING)) return;
    cur_ = i;
    Redraw();
    Notify(TCN_SELCHANGE);
  }

  std::vector<Item> items_;
  int cur_ = -1;
  HIMAGELIST images_ = nullptr;
};

}  // namespace

void RegisterTab() { RegisterClass(u"SysTabControl32", ControlProc<Tab>); }

}  // namespace qk::controls
