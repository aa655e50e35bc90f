// "SysListView32" in report view: columns (with or without a header),
// rows of an item and its sub-items with small and state images, single or
// multiple selection, the focused row, sorting (by text as rows are
// inserted, or by the caller's comparison; a changed text does not move
// its row), owner-drawn rows of a fixed
// height, editing of a row's label in place, a scroll bar and finger
// scrolling. The other views (icons, small icons, list) are shown as report
// rows.
//
// Notifications to the parent (WM_NOTIFY): LVN_ITEMCHANGING (non-zero
// refuses the change) and LVN_ITEMCHANGED for every change of a row's
// state, NM_CLICK when a tap ends, NM_DBLCLK, NM_RETURN, LVN_KEYDOWN,
// LVN_COLUMNCLICK, LVN_INSERTITEM, LVN_DELETEITEM, LVN_DELETEALLITEMS (then
// LVN_DELETEITEM for each row unless the parent answered TRUE),
// LVN_GETDISPINFO for texts given as LPSTR_TEXTCALLBACK, and
// LVN_BEGINLABELEDIT (non-zero refuses the edit) / LVN_ENDLABELEDIT (the new
// text, or none when the edit was cancelled; a non-zero answer keeps it).
//
// The background is painted on WM_ERASEBKGND, so a subclass that paints
// its own background there keeps it below the rows.
#include <algorithm>

#include "controls/control.h"
#include "kernel/wstring.h"

namespace qk::controls {
namespace {

constexpr int kNone = -1;

class ListView : public Control {
 public:
  explicit ListView(HWND hwnd) : Control(hwnd), bar_(true) {}
  ~ListView() override {
    if (!(Style() & LVS_SHAREIMAGELISTS))
      for (HIMAGELIST& list : images_)
        if (list) ImageList_Destroy(list);
  }

  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) override {
    int index = static_cast<int>(static_cast<INT_PTR>(wParam));
    switch (msg) {
      // ------------------------------------------------------------ columns
      case LVM_INSERTCOLUMNW: {
        auto* c = reinterpret_cast<const LVCOLUMNW*>(lParam);
        if (!c || index < 0) return -1;
        Column col;
        ApplyColumn(col, *c);
        int at = std::min(index, static_cast<int>(columns_.size()));
        columns_.insert(columns_.begin() + at, col);
        for (Item& it : items_)
          if (static_cast<int>(it.texts.size()) > at && at > 0) it.texts.insert(it.texts.begin() + at, u"");
        Redraw();
        return at;
      }
      case LVM_SETCOLUMNW: {
        auto* c = reinterpret_cast<const LVCOLUMNW*>(lParam);
        if (!c || !ValidColumn(index)) return FALSE;
        ApplyColumn(columns_[static_cast<size_t>(index)], *c);
        Redraw();
        return TRUE;
      }
      case LVM_GETCOLUMNW: {
        auto* c = reinterpret_cast<LVCOLUMNW*>(lParam);
        if (!c || !ValidColumn(index)) return FALSE;
        const Column& col = columns_[static_cast<size_t>(index)];
        if (c->mask & LVCF_FMT) c->fmt = col.fmt;
        if (c->mask & LVCF_WIDTH) c->cx = col.width;
        if (c->mask & LVCF_SUBITEM) c->iSubItem = index;
        if ((c->mask & LVCF_TEXT) && c->pszText && c->cchTextMax > 0) CopyOut(col.text, c->pszText, c->cchTextMax);
        return TRUE;
      }
      case LVM_DELETECOLUMN:
        if (!ValidColumn(index)) return FALSE;
        columns_.erase(columns_.begin() + index);
        for (Item& it : items_)
          if (static_cast<int>(it.texts.size()) > index) it.texts.erase(it.texts.begin() + index);
        Redraw();
        return TRUE;
      case LVM_GETHEADER:
        if (!header_)
          header_ = CreateWindowExW(0, WC_HEADER, u"", WS_CHILD, 0, 0, 0, 0, hwnd_, nullptr, nullptr, nullptr);
        return reinterpret_cast<LRESULT>(header_);
      case LVM_GETCOLUMNWIDTH:
        return ValidColumn(index) ? columns_[static_cast<size_t>(index)].width : 0;
      case LVM_SETCOLUMNWIDTH: {
        if (!ValidColumn(index)) return FALSE;
        int w = static_cast<short>(LOWORD(lParam));
        if (w == LVSCW_AUTOSIZE || w == LVSCW_AUTOSIZE_USEHEADER) w = AutoWidth(index, w == LVSCW_AUTOSIZE_USEHEADER);
        columns_[static_cast<size_t>(index)].width = std::max(0, w);
        Redraw();
        return TRUE;
      }

      // ------------------------------------------------------------ items
      case LVM_INSERTITEMW: {
        auto* lv = reinterpret_cast<const LVITEMW*>(lParam);
        if (!lv || lv->iSubItem != 0) return -1;
        Item it;
        it.texts.assign(1, u"");
        ApplyItem(it, *lv, true);
        int at = std::clamp(lv->iItem, 0, Count());
        if (Style() & (LVS_SORTASCENDING | LVS_SORTDESCENDING)) at = SortedPlace(it);
        items_.insert(items_.begin() + at, it);
        if (mark_ >= at) ++mark_;
        NMLISTVIEW nm{};
        nm.iItem = at;
        nm.lParam = it.param;
        Notify(&nm.hdr, LVN_INSERTITEM);
        Update();
        return at;
      }
      case LVM_SETITEMW: {
        auto* lv = reinterpret_cast<const LVITEMW*>(lParam);
        if (!lv || !Valid(lv->iItem)) return FALSE;
        Item& it = items_[static_cast<size_t>(lv->iItem)];
        if (lv->iSubItem > 0) {
          if (lv->mask & LVIF_TEXT) SetText(it, lv->iSubItem, lv->pszText);
        } else {
          UINT state = it.state;
          ApplyItem(it, *lv, false);
          if (lv->mask & LVIF_STATE) {
            UINT wanted = (state & ~lv->stateMask) | (lv->state & lv->stateMask);
            it.state = state;
            SetState(lv->iItem, wanted, lv->stateMask | state);
          }
        }
        Redraw();
        return TRUE;
      }
      case LVM_GETITEMW: {
        auto* lv = reinterpret_cast<LVITEMW*>(lParam);
        if (!lv || !Valid(lv->iItem)) return FALSE;
        const Item& it = items_[static_cast<size_t>(lv->iItem)];
        if ((lv->mask & LVIF_TEXT) && lv->pszText && lv->cchTextMax > 0)
          CopyOut(TextOf(lv->iItem, lv->iSubItem), lv->pszText, lv->cchTextMax);
        if (lv->iSubItem == 0) {
          if (lv->mask & LVIF_IMAGE) lv->iImage = it.image;
          if (lv->mask & LVIF_PARAM) lv->lParam = it.param;
          if (lv->mask & LVIF_STATE) lv->state = it.state & lv->stateMask;
          if (lv->mask & LVIF_INDENT) lv->iIndent = it.indent;
        }
        return TRUE;
      }
      case LVM_SETITEMTEXTW: {
        auto* lv = reinterpret_cast<const LVITEMW*>(lParam);
        if (!lv || !Valid(index)) return FALSE;
        SetText(items_[static_cast<size_t>(index)], lv->iSubItem, lv->pszText);
        Redraw();
        return TRUE;
      }
      case LVM_GETITEMTEXTW: {
        auto* lv = reinterpret_cast<LVITEMW*>(lParam);
        if (!lv || !Valid(index) || !lv->pszText || lv->cchTextMax <= 0) return 0;
        return CopyOut(TextOf(index, lv->iSubItem), lv->pszText, lv->cchTextMax);
      }
      case LVM_SETITEMSTATE: {
        auto* lv = reinterpret_cast<const LVITEMW*>(lParam);
        if (!lv) return FALSE;
        if (index == -1) {
          for (int i = 0; i < Count(); ++i) SetState(i, lv->state, lv->stateMask);
          return TRUE;
        }
        if (!Valid(index)) return FALSE;
        SetState(index, lv->state, lv->stateMask);
        return TRUE;
      }
      case LVM_GETITEMSTATE:
        return Valid(index) ? static_cast<LRESULT>(items_[static_cast<size_t>(index)].state & static_cast<UINT>(lParam))
                            : 0;
      case LVM_DELETEITEM: {
        if (!Valid(index)) return FALSE;
        NMLISTVIEW nm{};
        nm.iItem = index;
        nm.lParam = items_[static_cast<size_t>(index)].param;
        Notify(&nm.hdr, LVN_DELETEITEM);
        if (editItem_ == index) EndEdit(false);
        items_.erase(items_.begin() + index);
        if (mark_ == index)
          mark_ = kNone;
        else if (mark_ > index)
          --mark_;
        Update();
        return TRUE;
      }
      case LVM_DELETEALLITEMS: {
        EndEdit(false);
        NMLISTVIEW nm{};
        nm.iItem = -1;
        // The parent hears of every row that goes (it may own what the
        // row's data points to), unless it answers TRUE here to say it
        // needs no word of each.
        if (!Notify(&nm.hdr, LVN_DELETEALLITEMS)) {
          std::vector<LPARAM> params;
          params.reserve(items_.size());
          for (const Item& it : items_) params.push_back(it.param);
          for (size_t k = 0; k < params.size(); ++k) {
            NMLISTVIEW row{};
            row.iItem = static_cast<int>(k);
            row.lParam = params[k];
            Notify(&row.hdr, LVN_DELETEITEM);
          }
        }
        items_.clear();
        mark_ = kNone;
        top_ = 0;
        Update();
        return TRUE;
      }
      case LVM_GETITEMCOUNT:
        return Count();
      case LVM_SETITEMCOUNT:
        return TRUE;
      case LVM_GETSELECTEDCOUNT:
        return std::count_if(items_.begin(), items_.end(), [](const Item& it) { return it.state & LVIS_SELECTED; });
      case LVM_GETSELECTIONMARK:
        return mark_;
      case LVM_SETSELECTIONMARK: {
        int old = mark_;
        mark_ = static_cast<int>(lParam);
        return old;
      }
      case LVM_GETNEXTITEM:
        return NextItem(index, static_cast<UINT>(LOWORD(lParam)));
      case LVM_FINDITEMW: {
        auto* f = reinterpret_cast<const LVFINDINFOW*>(lParam);
        if (!f) return -1;
        int n = Count();
        for (int k = 0; k < n; ++k) {
          int i = index + 1 + k;
          if (i >= n) {
            if (!(f->flags & LVFI_WRAP)) break;
            i -= n;
          }
          const Item& it = items_[static_cast<size_t>(i)];
          if ((f->flags & LVFI_PARAM) && it.param == f->lParam) return i;
          if ((f->flags & (LVFI_STRING | LVFI_PARTIAL)) && f->psz) {
            std::u16string t = TextOf(i, 0);
            size_t len = std::char_traits<char16_t>::length(f->psz);
            if ((f->flags & LVFI_PARTIAL) ? _wcsnicmp(t.c_str(), f->psz, len) == 0 : _wcsicmp(t.c_str(), f->psz) == 0)
              return i;
          }
        }
        return -1;
      }
      case LVM_SORTITEMS: {
        auto compare = reinterpret_cast<PFNLVCOMPARE>(lParam);
        if (!compare) return FALSE;
        EndEdit(false);
        LPARAM sortParam = static_cast<LPARAM>(wParam);
        LPARAM markParam = Valid(mark_) ? items_[static_cast<size_t>(mark_)].param : 0;
        std::stable_sort(items_.begin(), items_.end(), [&](const Item& a, const Item& b) {
          return compare(a.param, b.param, sortParam) < 0;
        });
        if (Valid(mark_))
          for (int i = 0; i < Count(); ++i)
            if (items_[static_cast<size_t>(i)].param == markParam) mark_ = i;
        Redraw();
        return TRUE;
      }

      // ------------------------------------------------------------ geometry
      case LVM_GETITEMRECT: {
        auto* r = reinterpret_cast<RECT*>(lParam);
        if (!r || !Valid(index)) return FALSE;
        *r = ItemRect(index, 0, r->left);
        return TRUE;
      }
      case LVM_GETSUBITEMRECT: {
        auto* r = reinterpret_cast<RECT*>(lParam);
        if (!r || !Valid(index)) return FALSE;
        *r = ItemRect(index, r->top, r->left);
        return TRUE;
      }
      case LVM_HITTEST:
      case LVM_SUBITEMHITTEST: {
        auto* info = reinterpret_cast<LVHITTESTINFO*>(lParam);
        if (!info) return -1;
        HitTest(info);
        return info->iItem;
      }
      case LVM_ENSUREVISIBLE:
        if (!Valid(index)) return FALSE;
        Show(index);
        Update();
        return TRUE;
      case LVM_SCROLL:
        top_ += static_cast<int>(lParam) / std::max(1, RowH());
        Update();
        return TRUE;
      case LVM_GETTOPINDEX:
        return top_;
      case LVM_GETCOUNTPERPAGE:
        return PerPage();
      case LVM_REDRAWITEMS:
      case LVM_UPDATE:
        Redraw();
        return TRUE;

      // ------------------------------------------------------------ looks
      case LVM_SETIMAGELIST: {
        if (index < 0 || index > 2) return 0;
        HIMAGELIST old = images_[index];
        images_[index] = reinterpret_cast<HIMAGELIST>(lParam);
        rowHeight_ = 0;
        Redraw();
        return reinterpret_cast<LRESULT>(old);
      }
      case LVM_GETIMAGELIST:
        return index >= 0 && index <= 2 ? reinterpret_cast<LRESULT>(images_[index]) : 0;
      case LVM_SETEXTENDEDLISTVIEWSTYLE: {
        DWORD old = ex_;
        DWORD mask = wParam ? static_cast<DWORD>(wParam) : 0xFFFFFFFFu;
        ex_ = (ex_ & ~mask) | (static_cast<DWORD>(lParam) & mask);
        Redraw();
        return old;
      }
      case LVM_GETEXTENDEDLISTVIEWSTYLE:
        return ex_;
      case LVM_SETBKCOLOR:
        bk_ = static_cast<COLORREF>(lParam);
        Redraw();
        return TRUE;
      case LVM_GETBKCOLOR:
        return bk_ == CLR_DEFAULT ? Sys(COLOR_WINDOW) : bk_;
      case LVM_SETTEXTCOLOR:
        text_ = static_cast<COLORREF>(lParam);
        Redraw();
        return TRUE;
      case LVM_GETTEXTCOLOR:
        return text_ == CLR_DEFAULT ? Sys(COLOR_WINDOWTEXT) : text_;
      case LVM_SETTEXTBKCOLOR:
        textBk_ = static_cast<COLORREF>(lParam);
        Redraw();
        return TRUE;
      case LVM_GETTEXTBKCOLOR:
        return textBk_;
      case LVM_GETSTRINGWIDTHW: {
        auto* s = reinterpret_cast<LPCWSTR>(lParam);
        return s ? TextWidth(s) : 0;
      }

      // ------------------------------------------------------------ label editing
      case LVM_EDITLABELW:
        return reinterpret_cast<LRESULT>(BeginEdit(index));
      case LVM_GETEDITCONTROL:
        return reinterpret_cast<LRESULT>(edit_);

      // ------------------------------------------------------------ window
      case WM_SETFONT:
      case WM_WINDOWPOSCHANGED:
        rowHeight_ = 0;  // measure the rows again
        if (msg == WM_SETFONT) return Control::Handle(msg, wParam, lParam);
        Redraw();
        return 0;
      case WM_SIZE:
        Update();
        return 0;
      case WM_ERASEBKGND: {
        auto dc = reinterpret_cast<HDC>(wParam);
        RECT r = Client();
        if (bk_ != CLR_NONE) Fill(dc, r, bk_ == CLR_DEFAULT ? Sys(COLOR_WINDOW) : bk_);
        return 1;
      }
      case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd_, &ps);
        if (dc) {
          SaveDC(dc);
          SelectObject(dc, Font());
          SetBkMode(dc, TRANSPARENT);
          Paint(dc);
          RestoreDC(dc, -1);
        }
        EndPaint(hwnd_, &ps);
        return 0;
      }
      case WM_GETDLGCODE:
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
      case WM_SETFOCUS:
        Notify(NM_SETFOCUS);
        Redraw();
        return 0;
      case WM_KILLFOCUS:
        Notify(NM_KILLFOCUS);
        Redraw();
        return 0;
      case WM_LBUTTONDOWN:
      case WM_LBUTTONDBLCLK:
        return PointerDown(msg == WM_LBUTTONDBLCLK, lParam);
      case WM_MOUSEMOVE:
        return PointerMove(lParam);
      case WM_LBUTTONUP:
        return PointerUp(lParam);
      case WM_CAPTURECHANGED:
        pressed_ = false;
        dragging_ = false;
        bar_.Up();
        return 0;
      case WM_KEYDOWN:
        Key(static_cast<UINT>(wParam));
        return 0;
      case WM_CHAR:
        return 0;
      case WM_VSCROLL:
        if (!lParam) Scroll(LOWORD(wParam), static_cast<short>(HIWORD(wParam)));
        return 0;
      case WM_DESTROY:
        EndEdit(false);
        return 0;
      default:
        return Control::Handle(msg, wParam, lParam);
    }
  }

  void Paint(HDC dc) override {
    RECT client = Client();
    int line = std::max(1, Scale(1));
    bool focused = Focused() || (edit_ && GetFocus() == edit_);
    if (HasHeader()) PaintHeader(dc);
    RECT area = Area();
    SaveDC(dc);
    IntersectClipRect(dc, area.left, area.top, area.right, area.bottom);
    int rowH = RowH();
    bool ownerDraw = (Style() & LVS_OWNERDRAWFIXED) != 0;
    bool showSel = focused || (Style() & LVS_SHOWSELALWAYS);
    for (int i = top_; i < Count(); ++i) {
      RECT row = ItemRect(i, 0, LVIR_BOUNDS);
      if (row.top >= area.bottom) break;
      const Item& it = items_[static_cast<size_t>(i)];
      bool selected = (it.state & LVIS_SELECTED) && showSel;
      if (ownerDraw) {
        DRAWITEMSTRUCT dis{};
        dis.CtlType = ODT_LISTVIEW;
        dis.CtlID = static_cast<UINT>(GetDlgCtrlID(hwnd_));
        dis.itemID = static_cast<UINT>(i);
        dis.itemAction = ODA_DRAWENTIRE;
        dis.itemState = (selected ? ODS_SELECTED : 0) | (focused && (it.state & LVIS_FOCUSED) ? ODS_FOCUS : 0);
        dis.hwndItem = hwnd_;
        dis.hDC = dc;
        dis.rcItem = row;
        dis.itemData = static_cast<ULONG_PTR>(it.param);
        SaveDC(dc);
        SendMessageW(GetParent(hwnd_), WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
        RestoreDC(dc, -1);
        continue;
      }
      PaintRow(dc, i, row, selected, focused && (it.state & LVIS_FOCUSED));
    }
    if (ex_ & LVS_EX_GRIDLINES) {
      COLORREF grid = Blend(Sys(COLOR_BTNSHADOW), Sys(COLOR_WINDOW), 90);
      for (int y = area.top + rowH - line; y < area.bottom; y += rowH) Fill(dc, RECT{area.left, y, area.right, y + line}, grid);
    }
    RestoreDC(dc, -1);
    SyncBar();
    if (bar_.Needed() && !(Style() & LVS_NOSCROLL)) {
      bar_.SetRect(BarRect());
      bar_.Paint(dc, Enabled());
    }
    if (Bordered()) Frame(dc, client, focused ? Sys(COLOR_HIGHLIGHT) : Sys(COLOR_BTNSHADOW), line);
  }

 private:
  struct Column {
    std::u16string text;
    int width = 0;
    int fmt = LVCFMT_LEFT;
  };
  struct Item {
    std::vector<std::u16string> texts;
    bool callback = false;
    int image = 0;
    UINT state = 0;
    LPARAM param = 0;
    int indent = 0;
  };

  int Count() const { return static_cast<int>(items_.size()); }
  bool Valid(int i) const { return i >= 0 && i < Count(); }
  bool ValidColumn(int i) const { return i >= 0 && i < static_cast<int>(columns_.size()); }
  bool Bordered() const { return (Style() & WS_BORDER) || (GetWindowLongW(hwnd_, GWL_EXSTYLE) & WS_EX_CLIENTEDGE); }
  int Edge() const { return Bordered() ? std::max(1, Scale(1)) : 0; }
  bool HasHeader() const { return !(Style() & LVS_NOCOLUMNHEADER) && !columns_.empty(); }

  static int CopyOut(const std::u16string& s, LPWSTR out, int room) {
    int n = std::min(static_cast<int>(s.size()), room - 1);
    std::copy_n(s.begin(), n, out);
    out[n] = 0;
    return n;
  }

  static void ApplyColumn(Column& col, const LVCOLUMNW& c) {
    if ((c.mask & LVCF_TEXT) && c.pszText) col.text = c.pszText;
    if (c.mask & LVCF_WIDTH) col.width = std::max(0, c.cx);
    if (c.mask & LVCF_FMT) col.fmt = c.fmt & 3;
  }

  void SetText(Item& it, int sub, LPCWSTR text) {
    if (sub < 0) return;
    if (static_cast<int>(it.texts.size()) <= sub) it.texts.resize(static_cast<size_t>(sub) + 1);
    if (sub == 0) it.callback = text == LPSTR_TEXTCALLBACKW;
    it.texts[static_cast<size_t>(sub)] = text && text != LPSTR_TEXTCALLBACKW ? text : u"";
  }

  void ApplyItem(Item& it, const LVITEMW& lv, bool inserting) {
    if (lv.mask & LVIF_TEXT) SetText(it, 0, lv.pszText);
    if (lv.mask & LVIF_IMAGE) it.image = lv.iImage;
    if (lv.mask & LVIF_PARAM) it.param = lv.lParam;
    if (lv.mask & LVIF_INDENT) it.indent = lv.iIndent;
    if (inserting && (lv.mask & LVIF_STATE)) it.state = lv.state & lv.stateMask;
  }

  std::u16string TextOf(int i, int sub) {
    const Item& it = items_[static_cast<size_t>(i)];
    if (sub == 0 && it.callback) {
      WCHAR buffer[260] = {};
      NMLVDISPINFOW info{};
      info.item.mask = LVIF_TEXT;
      info.item.iItem = i;
      info.item.iSubItem = 0;
      info.item.pszText = buffer;
      info.item.cchTextMax = 260;
      info.item.lParam = it.param;
      Notify(&info.hdr, LVN_GETDISPINFOW);
      return info.item.pszText ? std::u16string(info.item.pszText) : std::u16string();
    }
    return sub >= 0 && sub < static_cast<int>(it.texts.size()) ? it.texts[static_cast<size_t>(sub)] : u"";
  }

  int SortedPlace(const Item& it) {
    bool down = (Style() & LVS_SORTDESCENDING) != 0;
    const std::u16string& key = it.texts.empty() ? std::u16string() : it.texts[0];
    int at = 0;
    while (at < Count()) {
      int c = _wcsicmp(items_[static_cast<size_t>(at)].texts[0].c_str(), key.c_str());
      if (down ? c < 0 : c > 0) break;
      ++at;
    }
    return at;
  }

  // Changes the state bits of mask of item i to state, with the
  // notifications; single selection and the one focused row are kept.
  bool SetState(int i, UINT state, UINT mask) {
    // The parent may change the list while it is told (a file chooser
    // fills it again when a folder is chosen): nothing is held across a
    // notification.
    UINT before = items_[static_cast<size_t>(i)].state;
    UINT wanted = (before & ~mask) | (state & mask);
    if (wanted == before) return true;
    if ((wanted & LVIS_SELECTED) && !(before & LVIS_SELECTED) && (Style() & LVS_SINGLESEL))
      for (int k = 0; k < Count(); ++k)
        if (k != i && (items_[static_cast<size_t>(k)].state & LVIS_SELECTED)) SetState(k, 0, LVIS_SELECTED);
    if ((wanted & LVIS_FOCUSED) && !(before & LVIS_FOCUSED))
      for (int k = 0; k < Count(); ++k)
        if (k != i && (items_[static_cast<size_t>(k)].state & LVIS_FOCUSED)) SetState(k, 0, LVIS_FOCUSED);
    if (!Valid(i)) return false;
    NMLISTVIEW nm{};
    nm.iItem = i;
    nm.uNewState = wanted;
    nm.uOldState = items_[static_cast<size_t>(i)].state;
    nm.uChanged = LVIF_STATE;
    nm.lParam = items_[static_cast<size_t>(i)].param;
    if (Notify(&nm.hdr, LVN_ITEMCHANGING)) return false;
    if (!Valid(i)) return false;
    UINT old = items_[static_cast<size_t>(i)].state;
    items_[static_cast<size_t>(i)].state = wanted;
    if ((wanted & LVIS_SELECTED) && !(old & LVIS_SELECTED)) mark_ = i;
    nm = NMLISTVIEW{};
    nm.iItem = i;
    nm.uNewState = wanted;
    nm.uOldState = old;
    nm.uChanged = LVIF_STATE;
    nm.lParam = items_[static_cast<size_t>(i)].param;
    Redraw();
    Notify(&nm.hdr, LVN_ITEMCHANGED);
    return true;
  }

  int NextItem(int start, UINT flags) {
    if ((flags & LVNI_ABOVE) || (flags & LVNI_BELOW)) {
      int i = start + ((flags & LVNI_ABOVE) ? -1 : 1);
      return Valid(i) ? i : -1;
    }
    UINT want = flags & (LVNI_SELECTED | LVNI_FOCUSED);
    for (int i = std::max(start + 1, 0); i < Count(); ++i) {
      UINT s = items_[static_cast<size_t>(i)].state;
      if (((want & LVNI_SELECTED) ? (s & LVIS_SELECTED) : true) && ((want & LVNI_FOCUSED) ? (s & LVIS_FOCUSED) : true))
        return i;
    }
    return -1;
  }

  int TextWidth(const std::u16string& s) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, Font());
    SIZE size{};
    GetTextExtentPoint32W(dc, s.c_str(), static_cast<int>(s.size()), &size);
    SelectObject(dc, old);
    DeleteDC(dc);
    return size.cx;
  }

  int AutoWidth(int column, bool useHeader) {
    if (useHeader && column == static_cast<int>(columns_.size()) - 1) {
      int used = 0;
      for (int c = 0; c < column; ++c) used += columns_[static_cast<size_t>(c)].width;
      RECT a = Area();
      return std::max(TextWidth(columns_[static_cast<size_t>(column)].text) + Scale(12),
                      static_cast<int>(a.right - a.left) - used);
    }
    int w = useHeader ? TextWidth(columns_[static_cast<size_t>(column)].text) : 0;
    for (int i = 0; i < Count(); ++i) w = std::max(w, TextWidth(TextOf(i, column)));
    return w + Scale(12) + (column == 0 ? IconWidth() : 0);
  }

  int IconWidth() const {
    int cx = 0, cy = 0;
    int w = 0;
    if (images_[LVSIL_SMALL] && ImageList_GetIconSize(images_[LVSIL_SMALL], &cx, &cy)) w += cx + Scale(4);
    if (images_[LVSIL_STATE] && ImageList_GetIconSize(images_[LVSIL_STATE], &cx, &cy)) w += cx + Scale(2);
    return w;
  }

  int HeaderH() { return HasHeader() ? LineHeight() + Scale(8) : 0; }

  int RowH() {
    if (!rowHeight_) {
      int cx = 0, cy = 0;
      int image = 0;
      if (images_[LVSIL_SMALL] && ImageList_GetIconSize(images_[LVSIL_SMALL], &cx, &cy)) image = cy;
      int h = std::max(LineHeight() + Scale(6), image + Scale(4));
      if (Style() & LVS_OWNERDRAWFIXED) {
        MEASUREITEMSTRUCT mis{ODT_LISTVIEW, static_cast<UINT>(GetDlgCtrlID(hwnd_)), 0, 0, static_cast<UINT>(h), 0};
        SendMessageW(GetParent(hwnd_), WM_MEASUREITEM, mis.CtlID, reinterpret_cast<LPARAM>(&mis));
        h = std::max<int>(1, static_cast<int>(mis.itemHeight));
      }
      rowHeight_ = h;
    }
    return rowHeight_;
  }

  RECT BarRect() {
    RECT r = Client();
    int b = Edge();
    return RECT{r.right - b - qk::ControlScrollBarWidth(), r.top + b + HeaderH(), r.right - b, r.bottom - b};
  }

  // The rows' area (below the header, left of the scroll bar).
  RECT Area() {
    RECT r = Client();
    int b = Edge();
    RECT a{r.left + b, r.top + b + HeaderH(), r.right - b, r.bottom - b};
    SyncBar();
    if (bar_.Needed() && !(Style() & LVS_NOSCROLL)) a.right -= qk::ControlScrollBarWidth();
    if (a.bottom < a.top) a.bottom = a.top;
    return a;
  }

  int PerPage() {
    RECT r = Client();
    return std::max(1, static_cast<int>((r.bottom - 2 * Edge() - HeaderH()) / RowH()));
  }

  void SyncBar() {
    SCROLLINFO si{sizeof si, SIF_ALL, 0, Count() - 1, static_cast<UINT>(PerPage()), top_, 0};
    bar_.SetInfo(si);
  }

  void Update() {
    top_ = std::clamp(top_, 0, std::max(0, Count() - PerPage()));
    Redraw();
  }

  void Show(int i) {
    int per = PerPage();
    if (i < top_) top_ = i;
    if (i >= top_ + per) top_ = i - per + 1;
  }

  int ColumnLeft(int c) {
    RECT a = Area();
    int x = a.left;
    for (int k = 0; k < c && k < static_cast<int>(columns_.size()); ++k) x += columns_[static_cast<size_t>(k)].width;
    return x;
  }
  int ColumnWidth(int c) {
    if (columns_.empty()) {
      RECT a = Area();
      return a.right - a.left;
    }
    return ValidColumn(c) ? columns_[static_cast<size_t>(c)].width : 0;
  }

  RECT ItemRect(int i, int sub, int code) {
    RECT a = Area();
    int rowH = RowH();
    int y = a.top + (i - top_) * rowH;
    RECT row{a.left, y, a.left, y + rowH};
    int total = 0;
    for (const Column& c : columns_) total += c.width;
    row.right = columns_.empty() ? a.right : a.left + total;
    if (code == LVIR_BOUNDS && sub == 0) return row;
    int x = ColumnLeft(sub), w = ColumnWidth(sub);
    RECT cell{x, row.top, x + w, row.bottom};
    if (sub > 0) return cell;
    int indent = items_.empty() ? 0 : items_[static_cast<size_t>(i)].indent * Scale(16);
    int icon = IconWidth();
    if (code == LVIR_ICON) return RECT{x + Scale(2) + indent, row.top, x + Scale(2) + indent + icon, row.bottom};
    if (code == LVIR_LABEL) return RECT{x + Scale(2) + indent + icon, row.top, x + w, row.bottom};
    if (code == LVIR_SELECTBOUNDS) return (ex_ & LVS_EX_FULLROWSELECT) ? row : RECT{x + indent, row.top, x + w, row.bottom};
    return cell;
  }

  void HitTest(LVHITTESTINFO* info) {
    info->iItem = -1;
    info->iSubItem = 0;
    RECT a = Area();
    POINT p = info->pt;
    if (p.y < a.top) {
      info->flags = LVHT_ABOVE;
      return;
    }
    if (p.y >= a.bottom) {
      info->flags = LVHT_BELOW;
      return;
    }
    int i = top_ + (p.y - a.top) / RowH();
    if (!Valid(i)) {
      info->flags = LVHT_NOWHERE;
      return;
    }
    RECT row = ItemRect(i, 0, LVIR_BOUNDS);
    if (p.x >= row.right || p.x < row.left) {
      info->flags = (ex_ & LVS_EX_FULLROWSELECT) && p.x >= row.right ? LVHT_ONITEMLABEL : LVHT_NOWHERE;
      if (info->flags == LVHT_NOWHERE) return;
    } else {
      RECT icon = ItemRect(i, 0, LVIR_ICON);
      info->flags = p.x < icon.right && p.x >= icon.left ? LVHT_ONITEMICON : LVHT_ONITEMLABEL;
    }
    info->iItem = i;
    for (int c = 0; c < static_cast<int>(columns_.size()); ++c)
      if (p.x >= ColumnLeft(c) && p.x < ColumnLeft(c) + ColumnWidth(c)) info->iSubItem = c;
  }

  void PaintHeader(HDC dc) {
    RECT r = Client();
    int b = Edge();
    int h = HeaderH();
    RECT band{r.left + b, r.top + b, r.right - b, r.top + b + h};
    Fill(dc, band, Blend(Sys(COLOR_BTNFACE), Sys(COLOR_WINDOW), 140));
    int line = std::max(1, Scale(1));
    Fill(dc, RECT{band.left, band.bottom - line, band.right, band.bottom}, Sys(COLOR_BTNSHADOW));
    for (int c = 0; c < static_cast<int>(columns_.size()); ++c) {
      int x = ColumnLeft(c), w = ColumnWidth(c);
      RECT cell{x, band.top, x + w, band.bottom - line};
      Fill(dc, RECT{cell.right - line, cell.top + Scale(4), cell.right, cell.bottom - Scale(4)}, Sys(COLOR_BTNSHADOW));
      InflateRect(&cell, -Scale(6), 0);
      const Column& col = columns_[static_cast<size_t>(c)];
      DrawLabel(dc, col.text, cell, col.fmt == LVCFMT_RIGHT ? DT_RIGHT : col.fmt == LVCFMT_CENTER ? DT_CENTER : DT_LEFT,
                Sys(COLOR_BTNTEXT));
    }
  }

  void PaintRow(HDC dc, int i, const RECT& row, bool selected, bool focusedRow) {
    const Item& it = items_[static_cast<size_t>(i)];
    COLORREF ink = text_ == CLR_DEFAULT ? Sys(COLOR_WINDOWTEXT) : text_;
    if (textBk_ != CLR_NONE && textBk_ != CLR_DEFAULT) Fill(dc, row, textBk_);
    RECT selRect = ItemRect(i, 0, LVIR_SELECTBOUNDS);
    if (selected) Fill(dc, selRect, Focused() ? Sys(COLOR_HIGHLIGHT) : Blend(Sys(COLOR_HIGHLIGHT), Sys(COLOR_WINDOW), 160));
    // State image, then the small image.
    RECT icon = ItemRect(i, 0, LVIR_ICON);
    int x = icon.left, cx = 0, cy = 0;
    if (images_[LVSIL_STATE] && ImageList_GetIconSize(images_[LVSIL_STATE], &cx, &cy)) {
      int stateImage = static_cast<int>((it.state & LVIS_STATEIMAGEMASK) >> 12);
      if (stateImage > 0)
        ImageList_Draw(images_[LVSIL_STATE], stateImage - 1, dc, x, row.top + (row.bottom - row.top - cy) / 2,
                       ILD_TRANSPARENT);
      x += cx + Scale(2);
    }
    if (images_[LVSIL_SMALL] && ImageList_GetIconSize(images_[LVSIL_SMALL], &cx, &cy) && it.image >= 0)
      ImageList_Draw(images_[LVSIL_SMALL], it.image, dc, x, row.top + (row.bottom - row.top - cy) / 2,
                     ILD_TRANSPARENT | (it.state & LVIS_OVERLAYMASK));
    int columns = std::max<int>(1, static_cast<int>(columns_.size()));
    for (int c = 0; c < columns; ++c) {
      if (c == 0 && editItem_ == i && edit_) continue;
      RECT cell = c == 0 ? ItemRect(i, 0, LVIR_LABEL) : ItemRect(i, c, LVIR_BOUNDS);
      InflateRect(&cell, -Scale(4), 0);
      bool onSelection = selected && (c == 0 || (ex_ & LVS_EX_FULLROWSELECT));
      int fmt = ValidColumn(c) ? columns_[static_cast<size_t>(c)].fmt : LVCFMT_LEFT;
      DrawLabel(dc, TextOf(i, c), cell, fmt == LVCFMT_RIGHT ? DT_RIGHT : fmt == LVCFMT_CENTER ? DT_CENTER : DT_LEFT,
                onSelection ? Sys(COLOR_HIGHLIGHTTEXT) : ink);
    }
    if (focusedRow) FocusFrame(dc, selRect);
  }

  void Scroll(int code, int pos) {
    int per = PerPage();
    switch (code) {
      case SB_LINEUP: top_ -= 1; break;
      case SB_LINEDOWN: top_ += 1; break;
      case SB_PAGEUP: top_ -= per; break;
      case SB_PAGEDOWN: top_ += per; break;
      case SB_THUMBTRACK:
      case SB_THUMBPOSITION: top_ = pos; break;
      case SB_TOP: top_ = 0; break;
      case SB_BOTTOM: top_ = Count(); break;
      default: break;
    }
    Update();
  }

  // Makes i the selected and focused row (others lose the selection).
  void Choose(int i) {
    if (!(Style() & LVS_SINGLESEL))
      for (int k = 0; k < Count(); ++k)
        if (k != i && (items_[static_cast<size_t>(k)].state & LVIS_SELECTED)) SetState(k, 0, LVIS_SELECTED);
    if (Valid(i)) SetState(i, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  }

  void NotifyActivate(UINT code, int item, int sub, POINT p) {
    NMITEMACTIVATE nm{};
    nm.iItem = item;
    nm.iSubItem = sub;
    nm.ptAction = p;
    if (Valid(item)) nm.lParam = items_[static_cast<size_t>(item)].param;
    Notify(&nm.hdr, code);
  }

  LRESULT PointerDown(bool dbl, LPARAM lParam) {
    POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    if (edit_) EndEdit(true);
    if (GetFocus() != hwnd_) SetFocus(hwnd_);
    SyncBar();
    if (bar_.Needed() && !(Style() & LVS_NOSCROLL)) {
      bar_.SetRect(BarRect());
      int code = bar_.Down(p);
      if (code >= 0) {
        SetCapture(hwnd_);
        if (code != SB_THUMBTRACK) Scroll(code, 0);
        return 0;
      }
    }
    if (HasHeader() && p.y < Edge() + HeaderH()) {
      for (int c = 0; c < static_cast<int>(columns_.size()); ++c)
        if (p.x >= ColumnLeft(c) && p.x < ColumnLeft(c) + ColumnWidth(c) && !(Style() & LVS_NOSORTHEADER)) {
          NMLISTVIEW nm{};
          nm.iItem = -1;
          nm.iSubItem = c;
          Notify(&nm.hdr, LVN_COLUMNCLICK);
        }
      return 0;
    }
    LVHITTESTINFO info{};
    info.pt = p;
    HitTest(&info);
    int i = info.iItem;
    // A tap on the label of the row that is already selected and focused
    // starts editing it when the tap ends.
    editOnUp_ = !dbl && Valid(i) && (Style() & LVS_EDITLABELS) && (info.flags & LVHT_ONITEMLABEL) &&
                (items_[static_cast<size_t>(i)].state & (LVIS_SELECTED | LVIS_FOCUSED)) == (LVIS_SELECTED | LVIS_FOCUSED);
    if (Valid(i))
      Choose(i);
    else
      for (int k = 0; k < Count(); ++k)
        if (items_[static_cast<size_t>(k)].state & LVIS_SELECTED) SetState(k, 0, LVIS_SELECTED);
    pressed_ = true;
    dragging_ = false;
    downPoint_ = p;
    downTop_ = top_;
    downItem_ = i;
    downSub_ = info.iSubItem;
    SetCapture(hwnd_);
    if (dbl) {
      NotifyActivate(NM_DBLCLK, i, info.iSubItem, p);
      if (Valid(i)) NotifyActivate(LVN_ITEMACTIVATE, i, info.iSubItem, p);
    }
    return 0;
  }

  LRESULT PointerMove(LPARAM lParam) {
    POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    if (bar_.Dragging()) {
      int pos = 0;
      if (bar_.Drag(p, &pos) >= 0) Scroll(SB_THUMBTRACK, pos);
      return 0;
    }
    if (!pressed_) return 0;
    int dy = p.y - downPoint_.y;
    if (!dragging_ && std::abs(dy) > Scale(8)) dragging_ = true;  // the finger scrolls the rows
    if (dragging_) {
      int old = top_;
      top_ = downTop_ - dy / RowH();
      Update();
      if (old != top_) editOnUp_ = false;
    }
    return 0;
  }

  LRESULT PointerUp(LPARAM lParam) {
    POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    bool wasPressed = pressed_, wasDragging = dragging_;
    pressed_ = false;
    dragging_ = false;
    bar_.Up();
    if (GetCapture() == hwnd_) ReleaseCapture();
    if (!wasPressed) {
      Redraw();
      return 0;
    }
    if (!wasDragging) {
      NotifyActivate(NM_CLICK, downItem_, downSub_, p);
      if (editOnUp_ && Valid(downItem_)) BeginEdit(downItem_);
    }
    editOnUp_ = false;
    return 0;
  }

  void Key(UINT vk) {
    NMLVKEYDOWN kd{};
    kd.wVKey = static_cast<WORD>(vk);
    Notify(&kd.hdr, LVN_KEYDOWN);
    if (vk == VK_RETURN) {
      Notify(NM_RETURN);
      int f = NextItem(-1, LVNI_FOCUSED);
      if (Valid(f)) NotifyActivate(LVN_ITEMACTIVATE, f, 0, POINT{});
      return;
    }
    if (vk == 0x71 /* F2 */) {
      int f = NextItem(-1, LVNI_FOCUSED);
      if (Valid(f)) BeginEdit(f);
      return;
    }
    int n = Count();
    if (n == 0) return;
    int cur = NextItem(-1, LVNI_FOCUSED);
    int next = cur;
    switch (vk) {
      case VK_UP: next = cur < 0 ? 0 : cur - 1; break;
      case VK_DOWN: next = cur + 1; break;
      case VK_PRIOR: next = cur - PerPage(); break;
      case VK_NEXT: next = cur + PerPage(); break;
      case VK_HOME: next = 0; break;
      case VK_END: next = n - 1; break;
      case VK_SPACE:
        if (Valid(cur)) Choose(cur);
        return;
      default: return;
    }
    next = std::clamp(next, 0, n - 1);
    Show(next);
    Choose(next);
    Update();
  }

  // ------------------------------------------------------------ label editing

  static LRESULT EditHook(HWND edit, UINT msg, WPARAM wParam, LPARAM lParam) {
    HWND list = GetParent(edit);
    auto* self = ControlOf<ListView>(list);
    WNDPROC base = self ? self->editProc_ : nullptr;
    if (!self || !base) return DefWindowProcW(edit, msg, wParam, lParam);
    switch (msg) {
      case WM_GETDLGCODE:
        return CallWindowProcW(base, edit, msg, wParam, lParam) | DLGC_WANTALLKEYS;
      case WM_KEYDOWN:
        if (wParam == VK_RETURN || wParam == VK_ESCAPE) {
          self->EndEdit(wParam == VK_RETURN);
          return 0;
        }
        break;
      case WM_CHAR:
        if (wParam == u'\r' || wParam == 0x1B) return 0;
        break;
      case WM_KILLFOCUS: {
        LRESULT r = CallWindowProcW(base, edit, msg, wParam, lParam);
        if (self->edit_ == edit) self->EndEdit(true);
        return r;
      }
      default:
        break;
    }
    return CallWindowProcW(base, edit, msg, wParam, lParam);
  }

  HWND BeginEdit(int i) {
    if (edit_) EndEdit(true);
    if (!Valid(i)) return nullptr;
    NMLVDISPINFOW info{};
    info.item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_STATE;
    info.item.iItem = i;
    std::u16string current = TextOf(i, 0);
    info.item.pszText = current.data();
    info.item.cchTextMax = static_cast<int>(current.size()) + 1;
    info.item.lParam = items_[static_cast<size_t>(i)].param;
    info.item.state = items_[static_cast<size_t>(i)].state;
    if (Notify(&info.hdr, LVN_BEGINLABELEDITW)) return nullptr;
    if (!Valid(i)) return nullptr;
    Show(i);
    RECT r = ItemRect(i, 0, LVIR_LABEL);
    HWND edit = CreateWindowExW(0, u"EDIT", current.c_str(), WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL,
                                r.left, r.top, std::max<int>(Scale(40), r.right - r.left), r.bottom - r.top, hwnd_,
                                nullptr, nullptr, nullptr);
    if (!edit) return nullptr;
    SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(Font()), 0);
    editProc_ = reinterpret_cast<WNDPROC>(SetWindowLongW(edit, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(EditHook)));
    edit_ = edit;
    editItem_ = i;
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SetFocus(edit);
    Redraw();
    return edit;
  }

  void EndEdit(bool accept) {
    if (!edit_) return;
    HWND edit = edit_;
    int i = editItem_;
    edit_ = nullptr;
    editItem_ = -1;
    std::u16string text;
    int n = GetWindowTextLengthW(edit);
    text.resize(static_cast<size_t>(n) + 1);
    GetWindowTextW(edit, text.data(), n + 1);
    text.resize(static_cast<size_t>(n));
    if (GetFocus() == edit) SetFocus(hwnd_);
    DestroyWindow(edit);
    if (!Valid(i)) return;
    NMLVDISPINFOW info{};
    info.item.mask = LVIF_TEXT | LVIF_PARAM;
    info.item.iItem = i;
    info.item.pszText = accept ? text.data() : nullptr;
    info.item.cchTextMax = accept ? static_cast<int>(text.size()) + 1 : 0;
    info.item.lParam = items_[static_cast<size_t>(i)].param;
    if (Notify(&info.hdr, LVN_ENDLABELEDITW) && accept && Valid(i)) {
      SetText(items_[static_cast<size_t>(i)], 0, text.c_str());
    }
    Redraw();
  }

  std::vector<Column> columns_;
  std::vector<Item> items_;
  HIMAGELIST images_[3] = {};
  DWORD ex_ = 0;
  COLORREF bk_ = CLR_DEFAULT, text_ = CLR_DEFAULT, textBk_ = CLR_NONE;
  int top_ = 0;
  int mark_ = kNone;
  int rowHeight_ = 0;
  ScrollPart bar_;
  bool pressed_ = false, dragging_ = false, editOnUp_ = false;
  POINT downPoint_{};
  int downTop_ = 0, downItem_ = -1, downSub_ = 0;
  HWND edit_ = nullptr;
  int editItem_ = -1;
  WNDPROC editProc_ = nullptr;
  HWND header_ = nullptr;

 public:
  int ColumnCount() const { return static_cast<int>(columns_.size()); }
};

// The list's header window: it answers for the list's columns.
class Header : public Control {
 public:
  using Control::Control;
  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (msg == HDM_GETITEMCOUNT) {
      auto* list = ControlOf<ListView>(GetParent(hwnd_));
      return list ? list->ColumnCount() : -1;
    }
    return Control::Handle(msg, wParam, lParam);
  }
  void Paint(HDC) override {}
};

}  // namespace

void RegisterListView() {
  RegisterClass(u"SysListView32", ControlProc<ListView>);
  RegisterClass(u"SysHeader32", ControlProc<Header>);
}

}  // namespace qk::controls
