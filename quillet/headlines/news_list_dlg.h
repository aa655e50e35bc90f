// The headline list: the modal screen that lists the items of one channel
// (newest first, unread above read, the channel's error item on top) under
// a title band with the channel title and an unread-of-total counter. From
// it the user opens an article in the reading view, marks items read or
// unread, deletes one item, all items or the channel, and refreshes the
// channel. While a refresh or a full-text download runs elsewhere, the
// screen reloads itself on the refresh's registered messages.
//
// Two faces, chosen by the touch flag: full screen with a title band at the
// top and a bar of image buttons at the bottom (Back, Refresh/Cancel,
// Menu); or a shell menu bar with the soft keys "Channels" and "Menu" and a
// narrower title band.
//
// A channel's counts live in three places that the screen keeps in step:
// the read states in its item store "Ch%03d.bin", the "itemCount" and
// "newItemCount" attributes of its outline in "Channels.opml" (written
// through the channel list dialog that opened the screen), and the channel
// list's row, which the opener sets from GetCounts when the screen ends.
// A change the item store did not take (the store is missing, the item is
// gone) leaves the counts as they are.
#pragma once

#include <string>
#include <unordered_map>

#include "framework/afx.h"
#include "framework/dialog.h"
#include "quillet/screens/article_info.h"
#include "quillet/ui/image_button_bar.h"
#include "quillet/ui/news_list_view.h"
#include "quillet/ui/touch_image.h"

class CChannelListFields;
class CItemStore;

// The screen's timers: the (re)load of the rows, the clearing after
// "delete all items" and the headline-list menu.
#define NEWS_DLG_TIMER_LOAD 1
#define NEWS_DLG_TIMER_CLEAR 4
#define NEWS_DLG_TIMER_MENU 5

// The commands of the button bar (touch screens).
#define NEWS_BAR_BACK 1
#define NEWS_BAR_MENU 2
#define NEWS_BAR_REFRESH 3

class CNewsListDlg : public CDialog, public CArticleSource {
 public:
  // owner: the channel list dialog that opens the screen (also its
  // parent); may be null, and then nothing is written to the channel list
  // and Refresh does nothing.
  CNewsListDlg(const CString& channelTitle, const CString& channelUrl, int channel, CChannelListFields* owner);
  ~CNewsListDlg() override;
  CNewsListDlg(const CNewsListDlg&) = delete;
  CNewsListDlg& operator=(const CNewsListDlg&) = delete;

  // After DoModal: the channel number, the item count and the unread count
  // (the error item counts in neither).
  void GetCounts(int& channel, int& itemCount, int& unreadCount) const;
  // TRUE once the rows were loaded at least once: before that the counts
  // are not the channel's.
  BOOL HasCounts() const { return m_bLoaded; }
  // TRUE after "delete this channel" removed the channel.
  BOOL IsChannelDeleted() const { return m_bChannelDeleted; }

  // Previous / next for the reading view: the row step rows away from the
  // row with that link (or, with a title, that title; the last match),
  // wrapping round at both ends, marked read. FALSE (info untouched) when
  // the list has no rows.
  BOOL MoveArticle(ArticleInfo& info, int step, const CString& link, const CString& title) override;
  // The list's open callback: opens the row in the reading view. A row
  // index outside the rows does nothing.
  static void OpenArticle(HWND window, DWORD_PTR context, int row, int x);
  // Fills info for the item with that link (the body from the stored page
  // when there is one) and marks the item read in the store. TRUE when the
  // store now holds the item as read.
  BOOL PrepareArticle(ArticleInfo& info, const CString& link, const CString& title);

  CNewsListView* GetList() { return m_pList; }
  CImageButtonBar* GetButtonBar() { return m_pBar; }
  BOOL IsDownloadRunning() const { return m_bDownloadRunning; }
  const CString& GetChannelTitle() const { return m_strChannelTitle; }
  // The height of the title band (the list starts below it).
  int GetTitleBandHeight() const;

  BOOL OnInitDialog() override;
  // Enter is the list's (it opens the focused row); the dialog manager's
  // default button must not end the screen.
  void OnOK() override {}
  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  void OnSize(UINT type, int cx, int cy);
  void OnPaint();
  BOOL OnEraseBkgnd(CDC* dc);
  void OnTimer(UINT_PTR id);
  void OnLButtonDown(UINT flags, CPoint point);
  void OnInitMenuPopup(CMenu* popup, UINT index, BOOL sysMenu);
  void OnActivate(UINT state, CWnd* other, BOOL minimized);
  void OnClose();

  void OnRefresh();
  void OnMarkRead() { SetReadState(FALSE, TRUE); }
  void OnMarkUnread() { SetReadState(FALSE, FALSE); }
  void OnAllRead() { SetReadState(TRUE, TRUE); }
  void OnAllUnread() { SetReadState(TRUE, FALSE); }
  void OnBackToChannels() { OnCancel(); }
  void OnDeleteItem();
  void OnDeleteAllItems();
  void OnDeleteChannel();
  void OnChangeCategory();
  void OnChannelProperties();

 private:
  CString StorePath() const;
  void LoadRows();
  void SetReadState(BOOL all, BOOL read);
  // Deletes the item of the row from the store and, when the store took
  // it, the row and the item from the counts.
  void DeleteRow(int row);
  void WriteCount(LPCWSTR name, int value);
  void ShowItemMenu();
  void OnFullTextDone();
  void SetRefreshImage(BOOL running);
  void DrawTitleBand(HDC hdc, BOOL erase);
  void RedrawTitleBand();
  BOOL IsCovered() const;
  void DrawBar(HDC hdc);
  void RedrawBar();
  void LayoutList();
  int ListHeight() const;
  BOOL Ask(LPCWSTR question);

  CString m_strChannelTitle;
  CString m_strChannelUrl;
  int m_nChannel;
  CChannelListFields* m_pOwner;
  CItemStore* m_pStore = nullptr;
  // The list, and the pointer to it once it was created.
  CNewsListView m_list;
  CNewsListView* m_pList = nullptr;
  CImageButtonBar* m_pBar = nullptr;
  CBarPress m_barPress;
  CTouchImage m_titleIcon;
  HFONT m_hFont = nullptr;
  HFONT m_hBoldFont = nullptr;
  int m_nItemCount = 0;
  int m_nUnreadCount = 0;
  BOOL m_bLoaded = FALSE;
  BOOL m_bChannelDeleted = FALSE;
  BOOL m_bDownloadRunning = FALSE;
  int m_nLastX = 0, m_nLastY = 0;
  // The press being handled opened the item menu.
  BOOL m_bPressTaken = FALSE;
  COLORREF m_highlight = 0;
  // The refresh's registered messages, looked up when the screen is made.
  UINT m_nFullTextMessage = 0, m_nStartMessage = 0, m_nRefreshMessage = 0, m_nFinishedMessage = 0;
  // Filled at each load: the content HTML and the title of each item link.
  std::unordered_map<std::u16string, CString> m_contents;
  std::unordered_map<std::u16string, CString> m_titles;
  CCriticalSection m_lock;

  DECLARE_MESSAGE_MAP()
};
