// What the painted, finger-scrolled lists (the channels, the headlines)
// share: the row array and its count, the focus, the scroller, the owner
// and its open callback, the screen density and the fonts, and every
// operation that does not depend on what a row shows. A view derives from
// CPaintedList with its row type, which has the fields m_nTop, m_nBottom
// (the row's place in the content, filled in the copies GetItem hands out;
// the list itself places a row by its index) and m_pRendering (its cached
// drawing), and adds the drawing, the ordering of new rows and the open.
//
// No step of a paint, an insertion or a lookup walks every row: a list of
// thousands of rows paints, scrolls and changes as a short one does.
//
// One recursive lock guards every row change, the scroller's state and
// every drawing of the content; it is never held while the view waits for
// the user-interface thread (window invalidation and updates, and the open
// callback, run outside it). Owners paint through Paint(), which takes the
// lock too. The view is busy while it repaints (and while an owner holds
// it busy); the arrow keys do not move the focus while it is.
#pragma once

#include <algorithm>
#include <cstring>

#include "common/localize.h"
#include "framework/afx.h"
#include "quillet/ui/density.h"
#include "quillet/ui/touch_image.h"
#include "quillet/ui/touch_scroller.h"
#include "user/input.h"

// Draws text fitted into a box: whole when it fits, else cut with "..." on
// one line (DT_SINGLELINE) or broken at a blank over two lines, the second
// no wider than secondLineWidth. The text is data and drawn as it stands:
// an "&" is shown, never taken as a prefix (DT_NOPREFIX is always added),
// so what is drawn is what was measured. Returns the height drawn.
int DrawTextEllipsis(HDC hdc, const CString& text, const RECT& box, UINT format, int secondLineWidth);

// A row type that owns more than its rendering overloads these next to its
// declaration: ReleaseRowExtras frees what the row owns before the row is
// deleted, DetachRowExtras clears those pointers in a copy handed out.
template <class Item>
void ReleaseRowExtras(Item*) {}
template <class Item>
void DetachRowExtras(Item&) {}

// Item is the row type; Open, the open a view queues under its lock, has a
// flag pending, the callback's type Callback, and Call(callback, owner,
// context), which calls the callback with what was queued; MaxRows bounds
// the row count (0: no bound, the array grows with the rows).
template <class Item, class Open, int MaxRows>
class CPaintedList : public CTouchScrollClient {
 public:
  using OpenCallback = typename Open::Callback;

  CPaintedList(const CPaintedList&) = delete;
  CPaintedList& operator=(const CPaintedList&) = delete;

  BOOL Create(HINSTANCE instance, HWND parent, int x, int y, int width, int height, DWORD_PTR context,
              OpenCallback callback);

  void ReleaseItemCache(int row);
  void Redraw(BOOL full);
  void FocusNext();
  void FocusPrevious();
  void SetShowEmptyText(BOOL show);

  int GetItemCount();
  int GetFocusedItem();
  // A copy of a row's fields for inspection (no rendering, nothing the row
  // owns); FALSE for a row that does not exist.
  BOOL GetItem(int row, Item& out);
  // Destroys a row; the rows below move up one place. A focus below it
  // follows its row; a focus on it stays at that place on a key device
  // (the last row when it was the last) and is cleared on a touch screen.
  BOOL RemoveItem(int row);
  int GetRowPitch() const { return m_nPitch; }
  int GetBaseHeight() const { return m_nBase; }
  CTouchScroller& Scroller() { return m_scroller; }
  // Copies the list to the owner's DC (its WM_PAINT).
  void Paint(HDC hdc);

  // Scroller client operations.
  int DrawContent(HWND window, DWORD_PTR context, HDC hdc, DWORD_PTR drawParam, int offset, int width,
                  int height) override;
  BOOL OnPress(HWND window, DWORD_PTR context, int x, int y) override;
  BOOL OnDragStart(HWND window, DWORD_PTR context) override;

  // Input forwarded by the owner window.
  bool OnPointerDown(HWND window, int x, int y);
  bool OnPointerMove(HWND window, int x, int y);
  bool OnPointerUp(HWND window, int x, int y);
  bool OnTimer(HWND window, UINT_PTR id);
  void OnSize(int width, int height);

 protected:
  // Holds the view's lock for a scope.
  class Guard {
   public:
    explicit Guard(CCriticalSection& cs) : cs_(cs) { cs_.Lock(); }
    ~Guard() { cs_.Unlock(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    CCriticalSection& cs_;
  };

  // keyBaseHeight: the row's height above its separator on a key device;
  // emptyText: the text an empty list shows when the owner asks for it.
  CPaintedList(int keyBaseHeight, LPCWSTR emptyText);
  ~CPaintedList();

  // Makes the open that was found while the lock was held (a tap, the
  // Enter key), once it is released, and repaints.
  void FirePendingOpen();
  // Paints a row into its rendering dc (width by the row pitch), the white
  // text colour, transparent mode and the list font selected on a full
  // paint.
  virtual void PaintRow(Item* row, int index, HDC dc, int width, BOOL selected) = 0;

  static void FillSolid(HDC hdc, int left, int top, int right, int bottom, COLORREF colour);
  static void FillVerticalGradient(HDC hdc, int left, int top, int right, int bottom, COLORREF from, COLORREF to);
  // Paints a row's background: a shade that gets lighter down the list, and
  // the focus highlight. Returns the shade's weight (the separator is
  // drawn with a darker one).
  int PaintRowShade(HDC dc, int index, int width, BOOL selected);

  HFONT CreateViewFont(BOOL bold, BOOL small);
  COLORREF Dark(int weight) const;
  void DestroyItem(Item* row);
  // The following run under the lock.
  void DropRendering(int row);
  // Drops the focused row's rendering and clears the focus.
  void DropFocus();
  // Destroys every row and clears the focus.
  void DestroyAllRows();
  // Puts a new row at index, moving the rows from there down one place; the
  // focus stays on the row it was on.
  void InsertRow(int index, Item* row);
  // The row that holds content coordinate y, or -1.
  int RowAt(int y) const;
  // Whether another row may be added (the bound, if any, not reached).
  bool HasRoomForRow() const { return m_pItems && (MaxRows == 0 || m_nCount < MaxRows); }
  int RowTop(int index) const { return index * m_nPitch; }
  void ScrollFocusedIntoView();
  bool IsBusy() const { return m_bBusy || m_nRepainting > 0; }

  // Changes a row under the lock and drops its rendering (the owner
  // redraws); FALSE for a row that does not exist.
  template <class Change>
  BOOL ChangeRow(int row, Change change);
  // Copies one text field of a row; FALSE (and an empty text) for a row
  // that does not exist.
  BOOL CopyRowText(int row, CString Item::*field, CString& out);

  CCriticalSection m_lock;
  BOOL m_bBusy = FALSE;
  // Repaints in progress (Redraw and the repaints after an open); the view
  // is busy while any runs.
  int m_nRepainting = 0;
  int m_nRowsPainted = -1;
  BOOL m_bFullPaint = FALSE;
  // What the last drawing of the content changed (back-buffer
  // co-ordinates), and where and how large it drew: a redraw invalidates
  // only the rows it drew anew unless the offset, the size or the rows'
  // layout changed.
  RECT m_changed = {0, 0, 0, 0};
  int m_nDrawnOffset = 0, m_nDrawnWidth = -1, m_nDrawnHeight = -1;
  // The content was not drawn for the last redraws (the window's top-level
  // window is minimised): it is drawn when the owner paints.
  BOOL m_bStale = FALSE;
  BOOL m_bShowEmptyText = FALSE;
  CTouchScroller m_scroller;
  int m_nContentHeight = 0;
  HFONT m_hFont = nullptr;
  HFONT m_hBoldFont = nullptr;
  HFONT m_hSmallFont = nullptr;
  OpenCallback m_pCallback = nullptr;
  Item** m_pItems = nullptr;
  int m_nCount = 0;
  int m_nCapacity = 0;
  int m_nFocus = -1;
  // The rows that may hold a rendering lie in [m_nRenderedFrom,
  // m_nRenderedTo): a paint frees the far ones without walking the others.
  int m_nRenderedFrom = 0, m_nRenderedTo = 0;
  // Grows whenever rows are added, removed or destroyed: what a view keeps
  // about its rows' order is good while this stays the same.
  unsigned m_nRowsVersion = 0;

  HWND m_hOwner = nullptr;
  DWORD_PTR m_context = 0;
  int m_nDpiX = 96, m_nDpiY = 96;
  int m_nBase = 41, m_nPitch = 42;
  bool m_touch = true;
  LPCWSTR m_pEmptyText;
  // An open found while the lock was held, made once it is released.
  Open m_open;

 private:
  // Copies a row's rendering to the content, painting it first when there
  // is none.
  void DrawRowAt(int index, HDC hdc, int y, int width);
  // Makes room in the row array for one more row.
  void GrowRows();
};

// ---------------------------------------------------------------- construction

template <class Item, class Open, int MaxRows>
CPaintedList<Item, Open, MaxRows>::CPaintedList(int keyBaseHeight, LPCWSTR emptyText)
    : m_pEmptyText(emptyText) {
  InitScreenDpi(0);
  HDC screen = GetDC(nullptr);
  m_nDpiX = GetDeviceCaps(screen, LOGPIXELSX);
  m_nDpiY = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  m_touch = GetTouchFlag() != FALSE;
  m_nBase = m_touch ? m_nDpiY * 41 / 96 : keyBaseHeight;
  m_nPitch = m_nBase + m_nDpiY / 96;
  m_hFont = CreateViewFont(FALSE, FALSE);
  m_hBoldFont = CreateViewFont(TRUE, FALSE);
  m_hSmallFont = CreateViewFont(FALSE, TRUE);
}

template <class Item, class Open, int MaxRows>
CPaintedList<Item, Open, MaxRows>::~CPaintedList() {
  {
    Guard guard(m_lock);
    if (m_pItems) {
      for (int i = 0; i < m_nCount; ++i) DestroyItem(m_pItems[i]);
      delete[] m_pItems;
      m_pItems = nullptr;
    }
    m_nCount = 0;
  }
  DeleteObject(m_hFont);
  DeleteObject(m_hBoldFont);
  DeleteObject(m_hSmallFont);
  m_scroller.Destroy();
}

template <class Item, class Open, int MaxRows>
HFONT CPaintedList<Item, Open, MaxRows>::CreateViewFont(BOOL bold, BOOL small) {
  int k;
  if (m_touch) {
    WORD lang = PRIMARYLANGID(GetSystemDefaultLangID());
    k = (lang == LANG_CHINESE || lang == LANG_JAPANESE || lang == LANG_KOREAN) ? 14 : 13;
  } else {
    k = small ? 11 : 12;
  }
  LOGFONTW lf = {};
  lf.lfHeight = k * m_nDpiY / 96;
  lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  const char16_t face[] = u"Tahoma";
  std::memcpy(lf.lfFaceName, face, sizeof face);
  return CreateFontIndirectW(&lf);
}

template <class Item, class Open, int MaxRows>
BOOL CPaintedList<Item, Open, MaxRows>::Create(HINSTANCE, HWND parent, int x, int y, int width, int height,
                                                       DWORD_PTR context, OpenCallback callback) {
  Guard guard(m_lock);
  m_pCallback = callback;
  m_hOwner = parent;
  m_context = context;
  if (!m_pItems) {
    m_nCapacity = MaxRows > 0 ? MaxRows : 64;
    m_pItems = new Item*[m_nCapacity];
    std::fill(m_pItems, m_pItems + m_nCapacity, nullptr);
  }
  m_scroller.Init(context, parent, this, x, y, width, height);
  return TRUE;
}

template <class Item, class Open, int MaxRows>
COLORREF CPaintedList<Item, Open, MaxRows>::Dark(int weight) const {
  return BlendColors(RGB(0, 0, 0), GetSysColor(COLOR_HIGHLIGHT), weight);
}

// ---------------------------------------------------------------- rows

template <class Item, class Open, int MaxRows>
void CPaintedList<Item, Open, MaxRows>::DestroyItem(Item* row) {
  if (!row) return;
  if (row->m_pRendering) {
    row->m_pRendering->Release();
    delete row->m_pRendering;
  }
  ReleaseRowExtras(row);
  delete row;
}

template <class Item, class Open, int MaxRows>
void CPaintedList<Item, Open, MaxRows>::DropRendering(int row) {
  if (row < 0 || row >= m_nCount || !m_pItems[row] || !m_pItems[row]->m_pRendering) return;
  m_pItems[row]->m_pRendering->Release();
  delete m_pItems[row]->m_pRendering;
  m_pItems[row]->m_pRendering = nullptr;
}

template <class Item, class Open, int MaxRows>
void CPaintedList<Item, Open, MaxRows>::DropFocus() {
  DropRendering(m_nFocus);
  m_nFocus = -1;
}

template <class Item, class Open, int MaxRows>
void CPaintedList<Item, Open, MaxRows>::DestroyAllRows() {
  for (int i = 0; i < m_nCount; ++i) {
    DestroyItem(m_pItems[i]);
    m_pItems[i] = nullptr;
  }
  m_nCount = 0;
  m_nFocus = -1;
  m_nRenderedFrom = m_nRenderedTo = 0;
  ++m_nRowsVersion;
}

template <class Item, class Open, int MaxRows>
void CPaintedList<Item, Open, MaxRows>::GrowRows() {
  const int capacity = m_nCapacity * 2;
  Item** rows = new Item*[capacity];
  std::copy(m_pItems, m_pItems + m_nCount, rows);
  std::fill(rows + m_nCount, rows + capacity, nullptr);
  delete[] m_pItems;
  m_pItems = rows;
  m_nCapacity = capacity;
}

template <class Item, class Open, int MaxRows>
void CPaintedList<Item, Open, MaxRows>::InsertRow(int index, Item* row) {
  if (m_nCount >= m_nCapacity) GrowRows();
  // The rows below move down one place as one block; their places in the
  // content follow from their indices.
  std::copy_backward(m_pItems + index, m_pItems + m_nCount, m_pItems + m_nCount + 1);
  row->m_nTop = RowTop(index);
  row->m_nBottom = row->m_nTop + m_nPitch;
  m_pItems[index] = row;
  ++m_nCount;
  if (m_nFocus >= index && m_nFocus < m_nCount - 1) ++m_nFocus;
  if (m_nRenderedTo > index) ++m_nRenderedTo;
  ++m_nRowsVersion;
}

template <class Item, class Open, int MaxRows>
BOOL CPaintedList<Item, Open, MaxRows>::RemoveItem(int row) {
  Guard guard(m_lock);
  if (row < 0 || row >= m_nCount) return FALSE;
  DestroyItem(m_pItems[row]);
  for (int i = row; i < m_nCount - 1; ++i) m_pItems[i] = m_pItems[i + 1];
  m_pItems[--m_nCount] = nullptr;
  ++m_nRowsVersion;
  if (m_nFocus > row) --m_nFocus;
  else if (m_nFocus == row) m_nFocus = (m_touch || m_nCount == 0) ? -1 : std::min(row, m_nCount - 1);
  // The shading of every row follows the row count: every rendering goes.
  for (int i = m_nRenderedFrom; i < m_nRenderedTo && i < m_nCount; ++i) DropRendering(i);
  m_nRenderedFrom = m_nRenderedTo = 0;
  m_open = Open();
  m_bFullPaint = TRUE;
  return TRUE;
}

template <class Item, class Open, int MaxRows>
int CPaintedList<Item, Open, MaxRows>::RowAt(int y) const {
  if (y < 0 || m_nPitch <= 0) return -1;
  const int i = y / m_nPitch;
  return i < m_nCount ? i : -1;
}

template <class Item, class Open, int MaxRows>
template <class Change>
BOOL CPaintedList<Item, Open, MaxRows>::ChangeRow(int row, Change change) {
  Guard guard(m_lock);
  if (row < 0 || row >= m_nCount) return FALSE;
  change(*m_pItems[row]);
  DropRendering(row);
  return TRUE;
}

template <class Item, class Open, int MaxRows>
BOOL CPaintedList<Item, Open, MaxRows>::CopyRowText(int row, CString Item::*field, CString& out) {
  Guard guard(m_lock);
  if (row < 0 || row >= m_nCount) {
    out.Empty();
    return FALSE;
  }
  out = m_pItems[row]->*field;
  return TRUE;
}

template <class Item, class Open, int MaxRows>
void CPaintedList<Item, Open, MaxRows>::ReleaseItemCache(int row) {
  Guard guard(m_lock);
  DropRendering(row);
}

// Draws the content and has the owner window paint what changed: the rows
// drawn anew, or the whole list when more changed. While the owner's
// top-level window is minimised nothing of the list shows: the content is
// left to be drawn when the owner paints, and the list is owed its
// painting until it shows.
template <class Item, class Open, int MaxRows>
void CPaintedList<Item, Open, MaxRows>::Redraw(BOOL full) {
  HWND window;
  RECT area, changed = {0, 0, 0, 0};
  {
    Guard guard(m_lock);
    // The view counts as busy while it repaints, so that the arrow keys do
    // not move the focus under a redraw. A repaint only adds to the busy
    // state: a hold that an owner took outlasts it.
    ++m_nRepainting;
    window = m_scroller.GetWindow();
    area = m_scroller.GetRect();
  }
  const bool minimized = window && qk::InMinimizedWindow(window);
  {
    Guard guard(m_lock);
    if (minimized) {
      m_bStale = TRUE;
      changed = area;
    } else {
      const BOOL wasStale = m_bStale;
      m_scroller.Redraw(FALSE);
      m_bStale = FALSE;
      if (wasStale) {
        changed = area;
      } else {
        changed = m_changed;
        OffsetRect(&changed, area.left, area.top);
      }
    }
  }
  // The window is told outside the lock: updating it may wait for the
  // user-interface thread, which takes the lock to paint.
  if (full && window && !IsRectEmpty(&changed)) {
    InvalidateRect(window, &changed, FALSE);
    UpdateWindow(window);
  }
  Guard guard(m_lock);
  --m_nRepainting;
}

template <class Item, class Open, int MaxRows>
void CPaintedList<Item, Open, MaxRows>::FirePendingOpen() {
  Open open;
  OpenCallback callback;
  HWND owner;
  DWORD_PTR context;
  {
    Guard guard(m_lock);
    if (!m_open.pending) return;
    open = m_open;
    m_open = Open();
    callback = m_pCallback;
    owner = m_hOwner;
    context = m_context;
  }
  if (callback) open.Call(callback, owner, context);
  Redraw(TRUE);
}

// ---------------------------------------------------------------- focus

template <class Item, class Open, int MaxRows>
void CPaintedList<Item, Open, MaxRows>::FocusNext() {
  Guard guard(m_lock);
  if (IsBusy() || m_nCount == 0) return;
  int old = m_nFocus;
  DropRendering(old);
  m_nFocus = (old < 0 || old >= m_nCount - 1) ? 0 : old + 1;
  ScrollFocusedIntoView();
}

template <class Item, class Open, int MaxRows>
void CPaintedList<Item, Open, MaxRows>::FocusPrevious() {
  Guard guard(m_lock);
  if (IsBusy() || m_nCount == 0) return;
  int old = m_nFocus;
  DropRendering(old);
  m_nFocus = (old <= 0 || old >= m_nCount) ? m_nCount - 1 : old - 1;
  ScrollFocusedIntoView();
}

template <class Item, class Open, int MaxRows>
void CPaintedList<Item, Open, MaxRows>::ScrollFocusedIntoView() {
  if (m_nFocus < 0 || m_nFocus >= m_nCount) return;
  const int top = RowTop(m_nFocus), bottom = top + m_nPitch;
  int o = m_scroller.GetOffset(), h = m_scroller.GetHeight();
  if (top + o < 0) {
    if (!m_scroller.SetOffset(-top, TRUE)) m_scroller.Redraw(1);
  } else if (bottom <= h - o) {
    m_scroller.Redraw(1);
  } else {
    if (!m_scroller.SetOffset(h - bottom, TRUE)) m_scroller.Redraw(1);
  }
}

// ---------------------------------------------------------------- accessors

template <class Item, class Open, int MaxRows>
void CPaintedList<Item, Open, MaxRows>::SetShowEmptyText(BOOL show) {
  Guard guard(m_lock);
  m_bShowEmptyText = show;
}

template <class Item, class Open, int MaxRows>
int CPaintedList<Item, Open, MaxRows>::GetItemCount() {
  Guard guard(m_lock);
  return m_nCount;
}

template <class Item, class Open, int MaxRows>
int CPaintedList<Item, Open, MaxRows>::GetFocusedItem() {
  Guard guard(m_lock);
  return m_nFocus;
}

template <class Item, class Open, int MaxRows>
BOOL CPaintedList<Item, Open, MaxRows>::GetItem(int row, Item& out) {
  Guard guard(m_lock);
  if (row < 0 || row >= m_nCount) return FALSE;
  out = *m_pItems[row];
  out.m_nTop = RowTop(row);
  out.m_nBottom = out.m_nTop + m_nPitch;
  out.m_pRendering = nullptr;
  DetachRowExtras(out);
  return TRUE;
}

template <class Item, class Open, int MaxRows>
void CPaintedList<Item, Open, MaxRows>::Paint(HDC hdc) {
  Guard guard(m_lock);
  if (m_bStale) {
    m_scroller.Redraw(FALSE);
    m_bStale = FALSE;
  }
  m_scroller.Paint(hdc);
}

// ---------------------------------------------------------------- input

template <class Item, class Open, int MaxRows>
BOOL CPaintedList<Item, Open, MaxRows>::OnPress(HWND, DWORD_PTR, int, int y) {
  Guard guard(m_lock);
  DropFocus();
  m_nFocus = RowAt(y);
  return TRUE;
}

template <class Item, class Open, int MaxRows>
BOOL CPaintedList<Item, Open, MaxRows>::OnDragStart(HWND, DWORD_PTR) {
  Guard guard(m_lock);
  DropFocus();
  return TRUE;
}

template <class Item, class Open, int MaxRows>
bool CPaintedList<Item, Open, MaxRows>::OnPointerDown(HWND window, int x, int y) {
  Guard guard(m_lock);
  return m_scroller.OnPointerDown(window, 0, MAKELPARAM(x, y));
}

template <class Item, class Open, int MaxRows>
bool CPaintedList<Item, Open, MaxRows>::OnPointerMove(HWND window, int x, int y) {
  Guard guard(m_lock);
  return m_scroller.OnPointerMove(window, 0, MAKELPARAM(x, y));
}

template <class Item, class Open, int MaxRows>
bool CPaintedList<Item, Open, MaxRows>::OnPointerUp(HWND window, int x, int y) {
  bool handled;
  {
    Guard guard(m_lock);
    handled = m_scroller.OnPointerUp(window, 0, MAKELPARAM(x, y));
  }
  FirePendingOpen();
  return handled;
}

template <class Item, class Open, int MaxRows>
bool CPaintedList<Item, Open, MaxRows>::OnTimer(HWND window, UINT_PTR id) {
  Guard guard(m_lock);
  return m_scroller.OnTimer(window, id);
}

template <class Item, class Open, int MaxRows>
void CPaintedList<Item, Open, MaxRows>::OnSize(int width, int height) {
  Guard guard(m_lock);
  for (int i = m_nRenderedFrom; i < m_nRenderedTo && i < m_nCount; ++i) DropRendering(i);
  m_nRenderedFrom = m_nRenderedTo = 0;
  m_bFullPaint = TRUE;
  m_scroller.SetSize(width, height);
}

// ---------------------------------------------------------------- painting

template <class Item, class Open, int MaxRows>
void CPaintedList<Item, Open, MaxRows>::FillSolid(HDC hdc, int left, int top, int right, int bottom,
                                                          COLORREF colour) {
  if (right <= left || bottom <= top) return;
  HBRUSH brush = CreateSolidBrush(colour);
  RECT r = {left, top, right, bottom};
  FillRect(hdc, &r, brush);
  DeleteObject(brush);
}

template <class Item, class Open, int MaxRows>
void CPaintedList<Item, Open, MaxRows>::FillVerticalGradient(HDC hdc, int left, int top, int right,
                                                                     int bottom, COLORREF from, COLORREF to) {
  TRIVERTEX v[2];
  SetTriVertex(&v[0], left, top, from);
  SetTriVertex(&v[1], right, bottom, to);
  GRADIENT_RECT r = {0, 1};
  GradientFill(hdc, v, 2, &r, 1, GRADIENT_FILL_RECT_V);
}

template <class Item, class Open, int MaxRows>
int CPaintedList<Item, Open, MaxRows>::DrawContent(HWND, DWORD_PTR, HDC hdc, DWORD_PTR, int offset,
                                                           int width, int height) {
  Guard guard(m_lock);
  const int Y1 = m_nDpiY / 96;
  // Everything changed unless only rows drawn anew did.
  bool whole = m_nCount == 0 || m_nRowsPainted != m_nCount || m_bFullPaint || offset != m_nDrawnOffset ||
               width != m_nDrawnWidth || height != m_nDrawnHeight;
  RECT changed = {0, 0, 0, 0};
  if (m_nCount == 0) {
    FillVerticalGradient(hdc, 0, 0, width, height, Dark(160), Dark(70));
    m_nContentHeight = height;
  } else {
    if (offset > 0) {
      FillSolid(hdc, 0, 0, width, offset, Dark(160));
      FillSolid(hdc, 0, offset - Y1, width, offset, Dark(180));
    }
    m_nContentHeight = std::max(height, m_nCount * m_nPitch);
    // Only the rows visible at the current offset are drawn, in both kinds
    // of paint.
    int first = std::max(0, -offset / m_nPitch);
    if (first >= m_nCount) first = m_nCount - 1;
    auto visible = [&](int i) { return RowTop(i) + offset < height && RowTop(i) + m_nPitch + offset > 0; };
    const bool normal = m_nRowsPainted == m_nCount && !m_bFullPaint;
    HGDIOBJ savedFont = nullptr;
    if (!normal) {
      SetTextColor(hdc, RGB(255, 255, 255));
      SetBkMode(hdc, TRANSPARENT);
      savedFont = SelectObject(hdc, m_hFont);
    }
    // The focused row is drawn again on every paint.
    DropRendering(m_nFocus);
    for (int i = first; i < m_nCount && RowTop(i) + offset < height; ++i) {
      if (!visible(i)) continue;
      const int y = RowTop(i) + offset;
      if (!m_pItems[i]->m_pRendering && !whole) {
        RECT row = {0, std::max(y, 0), width, std::min(y + m_nPitch, height)};
        if (IsRectEmpty(&changed)) changed = row;
        else UnionRect(&changed, &changed, &row);
      }
      DrawRowAt(i, hdc, y, width);
    }
    if (normal) {
      // Renderings survive half a screen above and below the visible rows;
      // only the rows that may hold one are looked at.
      const int v = height / m_nPitch + 1;
      const int keepFrom = std::max(0, first - v / 2 + 1), keepTo = std::min(m_nCount, first + 3 * v / 2);
      for (int i = m_nRenderedFrom; i < m_nRenderedTo && i < m_nCount; ++i)
        if (i < keepFrom || i >= keepTo) DropRendering(i);
      m_nRenderedFrom = std::max(m_nRenderedFrom, keepFrom);
      m_nRenderedTo = std::min(m_nRenderedTo, keepTo);
      if (m_nRenderedFrom >= m_nRenderedTo) m_nRenderedFrom = m_nRenderedTo = 0;
    } else {
      m_nRowsPainted = m_nCount;
      m_bFullPaint = FALSE;
      if (savedFont) SelectObject(hdc, savedFont);
    }
    FillSolid(hdc, 0, m_nCount * m_nPitch + offset, width, height, Dark(70));
  }
  if (m_nCount == 0 && m_bShowEmptyText) {
    SetTextColor(hdc, RGB(192, 192, 192));
    SetBkMode(hdc, TRANSPARENT);
    HGDIOBJ old = SelectObject(hdc, m_hFont);
    RECT all = {0, 0, width, height};
    DrawTextEllipsis(hdc, Localized(m_pEmptyText), all, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX, 0);
    if (old) SelectObject(hdc, old);
  }
  m_changed = whole ? RECT{0, 0, width, height} : changed;
  m_nDrawnOffset = offset;
  m_nDrawnWidth = width;
  m_nDrawnHeight = height;
  if (m_touch) {
    FillAlpha(hdc, 0, 0, width, Y1, RGB(0, 0, 0), 90);
    FillAlpha(hdc, 0, Y1, width, Y1, RGB(0, 0, 0), 45);
  }
  return m_nContentHeight;
}

template <class Item, class Open, int MaxRows>
void CPaintedList<Item, Open, MaxRows>::DrawRowAt(int index, HDC hdc, int y, int width) {
  Item* row = m_pItems[index];
  if (!row->m_pRendering) {
    row->m_pRendering = new COffscreenDC(hdc, width, m_nPitch);
    PaintRow(row, index, row->m_pRendering->GetDC(), width, index == m_nFocus);
    if (m_nRenderedFrom >= m_nRenderedTo) {
      m_nRenderedFrom = index;
      m_nRenderedTo = index + 1;
    } else {
      m_nRenderedFrom = std::min(m_nRenderedFrom, index);
      m_nRenderedTo = std::max(m_nRenderedTo, index + 1);
    }
  }
  BitBlt(hdc, 0, y, width, m_nPitch, row->m_pRendering->GetDC(), 0, 0, SRCCOPY);
}

template <class Item, class Open, int MaxRows>
int CPaintedList<Item, Open, MaxRows>::PaintRowShade(HDC dc, int index, int width, BOOL selected) {
  const int step = 90 / m_nCount;
  const int w = 160 - index * step;
  const COLORREF topColour = Dark(w - step - 3), bottomColour = Dark(w - 1);
  FillVerticalGradient(dc, 0, 0, width, m_nPitch, topColour, bottomColour);
  if (selected) {
    const int line = m_nDpiY / 96;
    if (!m_touch) {
      RECT box = {-4, -4, width + 4, m_nPitch - line + 4};
      DrawSoftBox(dc, box, BlendColors(RGB(255, 255, 255), bottomColour, 80), topColour, FALSE);
    }
    FillAlpha(dc, 0, 0, width, m_nPitch - line, RGB(255, 255, 255), 40);
  }
  return w;
}
