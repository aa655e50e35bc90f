// The painted, finger-scrolled list of channels on the main screen: one row
// per channel (every channel of the list, however many) sorted by title,
// each painted once into a cached
// rendering (favicon, title, last-update date, counts of new and all items,
// the refresh-pending image, a shaded background). A tap or the Enter key
// on a row reaches the owner through one callback.
//
// The view is used by the user-interface thread and by the refresh thread,
// which redraws rows and changes them while the user scrolls. One recursive
// lock guards every row change, the scroller's state and every drawing of
// the content; it is never held while the view waits for the
// user-interface thread (window invalidation and updates, and the open
// callback, run outside it); see painted_list.h. Owners paint through
// Paint(), which takes the lock too. The view is busy while it repaints,
// and the busy flag lets the refresh thread keep the arrow keys from moving
// the focus across several of its calls; a repaint in between does not end
// that hold.
#pragma once

#include <string>
#include <unordered_map>

#include "framework/afx.h"
#include "quillet/ui/density.h"
#include "quillet/ui/painted_list.h"
#include "quillet/ui/touch_image.h"
#include "quillet/ui/touch_scroller.h"

// The channel list holds a row for every channel: no bound on the rows.
#define CHANNEL_LIST_MAX_ROWS 0

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

// An open the view found while its lock was held, made once it is released.
struct CChannelListOpen {
  typedef ChannelOpenCallback Callback;
  bool pending = false;
  CString title, url;
  int channel = 0, x = 0;
  void Call(Callback callback, HWND owner, DWORD_PTR context) const {
    callback(owner, context, title, url, channel, x);
  }
};

class CChannelListView : public CPaintedList<CChannelListItem, CChannelListOpen, CHANNEL_LIST_MAX_ROWS> {
 public:
  CChannelListView();
  ~CChannelListView();
  // Makes the list in its parent; the rows' pictures are read then.
  BOOL Create(HINSTANCE instance, HWND parent, int x, int y, int width, int height, DWORD_PTR context,
              OpenCallback callback);

  // The row the channel got (the rows stay sorted by title), or -1 when
  // the list is full.
  int AddItem(int channel, LPCWSTR title, LPCWSTR updateTime, LPCWSTR url, LPCWSTR category, int itemCount,
              int newCount);
  void RemoveAllItems();
  int FindItemById(int channel);
  // The first row (in list order) whose feed URL equals url exactly, or -1.
  int FindItemByUrl(const CString& url);
  int SetItemCounts(int channel, int itemCount, int newCount);
  // Sets a row's refresh state (2 while queued in a refresh, else 0) and
  // drops its rendering; false for a row that does not exist.
  BOOL SetItemState(int row, int state);
  // Replaces a row's update-time text and drops its rendering; false for a
  // row that does not exist.
  BOOL SetItemUpdateTime(int row, LPCWSTR text);
  void SetBusy(BOOL busy);
  void ClearFocus();
  void OpenFocusedItem();
  // The feed URL of a row; FALSE (and an empty text) for a row that does
  // not exist.
  BOOL GetListItemTitle(int row, CString& out);

  // Scroller client operations.
  void OnClick(HWND window, DWORD_PTR context, int x, int y) override;

  // Draws an icon file (".ico") into the box; TRUE when something was drawn.
  BOOL DrawIconFile(HDC hdc, LPCWSTR path, int left, int top, int right, int bottom);

 private:
  void PaintRow(CChannelListItem* row, int index, HDC dc, int width, BOOL selected) override;
  void RepaintBusy();
  // The first row of each feed URL and of each channel number, made anew
  // after the rows changed order (under the lock), so that the refresh
  // finds its rows without walking the list.
  void IndexRows();

  std::unordered_map<std::u16string, int> m_rowOfUrl;
  std::unordered_map<int, int> m_rowOfChannel;
  unsigned m_nIndexedVersion = ~0u;

  CTouchImage m_defaultIcon;
  CTouchImage m_refreshImage;
  CString m_strDataFolder;
};
