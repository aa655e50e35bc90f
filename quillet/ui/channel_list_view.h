// The painted, finger-scrolled list of channels on the main screen: one row
// per channel (at most 500) sorted by title, each painted once into a cached
// rendering (favicon, title, last-update date, counts of new and all items,
// the refresh-pending image, a shaded background). A tap or the Enter key
// on a row reaches the owner through one callback.
//
// The view is used by the user-interface thread and by the refresh thread,
// which redraws rows and changes them while the user scrolls. One recursive
// lock guards every row change, the scroller's state and every drawing of
// the content; it is never held while the view waits for the
// user-interface thread (window invalidation and updates, and the open
// callback, run outside it). Owners paint through Paint(), which takes the
// lock too. The view is busy while it repaints, and the busy flag lets the
// refresh thread keep the arrow keys from moving the focus across several
// of its calls; a repaint in between does not end that hold.
#pragma once

#include "framework/afx.h"
#include "quillet/ui/density.h"
#include "quillet/ui/touch_image.h"
#include "quillet/ui/touch_scroller.h"

#define CHANNEL_LIST_MAX_ROWS 500

// Called with (owner window, context value, row title, row feed URL, channel
// number, x); x is the tap's x coordinate, or -1 when opened by the keyboard.
typedef void (*ChannelOpenCallback)(HWND owner, DWORD_PTR context, const CString& title, const CString& url,
                                    int channel, int x);

struct CChannelListItem {
  int m_nChannel = 0;
  CString m_strTitle;
  CString m_strUrl;
  CString m_strUpdateTime;
  CString m_strCategory;
  int m_nItemCount = 0;
  int m_nNewCount = 0;
  int m_nTop = 0;
  int m_nBottom = 0;
  int m_nState = 0;  // 2 while queued in a running refresh
  COffscreenDC* m_pRendering = nullptr;
};

// Draws text fitted into a box: whole when it fits, else cut with "..." on
// one line (DT_SINGLELINE) or broken at a blank over two lines, the second
// no wider than secondLineWidth. Returns the height drawn.
int DrawTextEllipsis(HDC hdc, const CString& text, const RECT& box, UINT format, int secondLineWidth);

class CChannelListView : public CTouchScrollClient {
 public:
  CChannelListView();
  ~CChannelListView();
  CChannelListView(const CChannelListView&) = delete;
  CChannelListView& operator=(const CChannelListView&) = delete;

  BOOL Create(HINSTANCE instance, HWND parent, int x, int y, int width, int height, DWORD_PTR context,
              ChannelOpenCallback callback);

  void AddItem(int channel, LPCWSTR title, LPCWSTR updateTime, LPCWSTR url, LPCWSTR category, int itemCount,
               int newCount);
  void RemoveAllItems();
  int FindItemById(int channel);
  int SetItemCounts(int channel, int itemCount, int newCount);
  // Sets a row's refresh state (2 while queued in a refresh, else 0) and
  // drops its rendering; false for a row that does not exist.
  BOOL SetItemState(int row, int state);
  // Replaces a row's update-time text and drops its rendering; false for a
  // row that does not exist.
  BOOL SetItemUpdateTime(int row, LPCWSTR text);
  void ReleaseItemCache(int row);
  void Redraw(BOOL full);
  void SetBusy(BOOL busy);
  void ClearFocus();
  void FocusNext();
  void FocusPrevious();
  void OpenFocusedItem();
  // The feed URL of a row; FALSE (and an empty text) for a row that does
  // not exist.
  BOOL GetListItemTitle(int row, CString& out);
  void SetShowEmptyText(BOOL show);

  int GetItemCount();
  int GetFocusedItem();
  // A copy of a row for inspection; FALSE for a row that does not exist.
  BOOL GetItem(int row, CChannelListItem& out);
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
  void OnClick(HWND window, DWORD_PTR context, int x, int y) override;

  // Input forwarded by the owner window.
  bool OnPointerDown(HWND window, int x, int y);
  bool OnPointerMove(HWND window, int x, int y);
  bool OnPointerUp(HWND window, int x, int y);
  bool OnTimer(HWND window, UINT_PTR id);
  void OnSize(int width, int height);

  // Draws an icon file (".ico") into the box; TRUE when something was drawn.
  BOOL DrawIconFile(HDC hdc, LPCWSTR path, int left, int top, int right, int bottom);

 private:
  HFONT CreateViewFont(BOOL bold, BOOL small);
  COLORREF Dark(int weight) const;
  int DrawChannelRow(CChannelListItem* row, HDC hdc, int y, int width, BOOL selected);
  void DestroyItem(CChannelListItem* row);
  void DropRendering(int row);
  void ScrollFocusedIntoView();
  void RepaintBusy();
  // The busy flag or a repaint in progress (under the lock).
  bool IsBusy() const;
  void FirePendingOpen();

  CCriticalSection m_lock;
  BOOL m_bBusy = FALSE;
  // Repaints in progress (Redraw and the repaints after an open or a count
  // change); the view is busy while any runs.
  int m_nRepainting = 0;
  CTouchImage m_defaultIcon;
  CTouchImage m_refreshImage;
  int m_nRowsPainted = -1;
  BOOL m_bFullPaint = FALSE;
  BOOL m_bShowEmptyText = FALSE;
  CString m_strDataFolder;
  CTouchScroller m_scroller;
  int m_nContentHeight = 0;
  HGDIOBJ m_hSavedRowFont = nullptr;
  HGDIOBJ m_hSavedListFont = nullptr;
  HFONT m_hFont = nullptr;
  HFONT m_hBoldFont = nullptr;
  HFONT m_hSmallFont = nullptr;
  ChannelOpenCallback m_pCallback = nullptr;
  CChannelListItem** m_pItems = nullptr;
  int m_nCount = 0;
  HBRUSH m_hBrush = nullptr;
  int m_nFocus = -1;

  HWND m_hOwner = nullptr;
  DWORD_PTR m_context = 0;
  int m_nDpiX = 96, m_nDpiY = 96;
  int m_nBase = 36, m_nPitch = 37;
  bool m_touch = true;

  // An open found while the lock was held, made once it is released.
  struct PendingOpen {
    bool pending = false;
    CString title, url;
    int channel = 0, x = 0;
  } m_open;
};
