// The painted, finger-scrolled list of one channel's headlines: one row per
// item (at most 500), unread rows first and each group newest first, with
// the channel's error item (a failed update) always on top. A row shows the
// item's picture or the default picture, the title (bold while unread), the
// date, an image that tells unread from read and whether the full text is
// stored, and a pending image while a full-text job for the item is queued.
// A tap or the Enter key opens a row through one callback.
//
// Like the channel list, the view keeps one recursive lock over every row
// change, the scroller's state and every drawing of the content, and never
// holds it while it waits for the user-interface thread (window updates and
// the open callback run outside it); see painted_list.h. Owners paint
// through Paint(), which takes the lock too.
#pragma once

#include "framework/afx.h"
#include "quillet/ui/channel_list_view.h"
#include "quillet/ui/density.h"
#include "quillet/ui/dib.h"
#include "quillet/ui/painted_list.h"
#include "quillet/ui/touch_image.h"
#include "quillet/ui/touch_scroller.h"

#define NEWS_LIST_MAX_ROWS 500
// The link of a channel's error item, which the feed document writes for a
// failed update.
#define NEWS_ERROR_LINK u"http://127.0.0.1/lasterror"

// Called with (owner window, context value, row index, x); x is the tap's x
// coordinate, or -1 when opened by the keyboard.
typedef void (*NewsOpenCallback)(HWND owner, DWORD_PTR context, int row, int x);

struct CNewsListItem {
  CString m_strTitle;
  CString m_strLink;
  CString m_strDate;
  BOOL m_bRead = FALSE;
  BOOL m_bPending = FALSE;
  CString m_strPicturePath;
  CDib* m_pPicture = nullptr;
  int m_nPictureWidth = 0;
  int m_nPictureHeight = 0;
  int m_nTop = 0;
  int m_nBottom = 0;
  CString m_strPageFile;
  COffscreenDC* m_pRendering = nullptr;
  BOOL m_bFullText = FALSE;
};

// An open the view found while its lock was held, made once it is released.
struct CNewsListOpen {
  typedef NewsOpenCallback Callback;
  bool pending = false;
  int row = -1, x = 0;
  void Call(Callback callback, HWND owner, DWORD_PTR context) const { callback(owner, context, row, x); }
};

// The news row owns its picture.
inline void ReleaseRowExtras(CNewsListItem* row) { delete row->m_pPicture; }
inline void DetachRowExtras(CNewsListItem& copy) { copy.m_pPicture = nullptr; }

class CNewsListView : public CPaintedList<CNewsListItem, CNewsListOpen, NEWS_LIST_MAX_ROWS> {
 public:
  CNewsListView();
  ~CNewsListView();

  void AddItem(LPCWSTR title, LPCWSTR date, LPCWSTR link, LPCWSTR picturePath, LPCWSTR pageFile, BOOL read,
               BOOL pending);
  void RemoveAllItems();
  // Stores the row's picture path and, when the row has no picture yet,
  // loads the ".bmp" file. The rendering is kept: the owner calls
  // ReleaseItemCache and Redraw. FALSE for a row that does not exist.
  BOOL LoadItemBitmap(int row, LPCWSTR picturePath);
  void OpenFocusedItem();
  // The date text of a row; FALSE (and an empty text) for a row that does
  // not exist.
  BOOL GetListItemTitle(int row, CString& out);
  // Row changes made by the owning screen; each drops the row's rendering
  // (the owner redraws). FALSE for a row that does not exist.
  BOOL SetItemRead(int row, BOOL read);
  BOOL SetItemPending(int row, BOOL pending);
  BOOL SetItemFullText(int row, BOOL fullText);
  // Scroller client operations.
  void OnClick(HWND window, DWORD_PTR context, int x, int y) override;

  // The images the rows are drawn with.
  CTouchImage& DefaultPicture() { return m_defaultPicture; }
  CTouchImage& ReadStateImage(BOOL read, BOOL fullText);
  CTouchImage& PendingImage() { return m_pendingImage; }

 private:
  void PaintRow(CNewsListItem* row, int index, HDC dc, int width, BOOL selected) override;
  static void LoadPicture(CNewsListItem* row);

  CTouchImage m_defaultPicture;
  CTouchImage m_unreadImage;
  CTouchImage m_unreadFullImage;
  CTouchImage m_pendingImage;
  CTouchImage m_readImage;
  CTouchImage m_readFullImage;
};
