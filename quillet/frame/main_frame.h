// The main window: a thin shell around the channel-list window. It is found
// by other programs under "WCE_QuilletMainWnd", builds the soft-key menu bar
// on a key device (or goes full screen on a touch device), greys the Menu
// key while a refresh runs, ends an update task when the refresh has
// finished, writes article texts that other programs hand over, and closes
// the program on the Exit command. Keys, pointer input and the refresh's
// private messages go on to the channel-list window, which owns the
// screen's content and the commands.
#pragma once

#include "framework/afx.h"
#include "framework/frame.h"
#include "quillet/frame/channel_list_wnd.h"

class CMainFrame : public CFrameWnd, public CScreenFrame {
 public:
  CMainFrame();
  ~CMainFrame() override;

  // Creates the frame as the program does: window class "QuilletMainWnd",
  // filling the screen, with the start-up load of the channel list.
  BOOL LoadFrame(UINT resourceId, DWORD style = WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE, CWnd* parent = nullptr,
                 CCreateContext* context = nullptr) override;
  // Creates the frame at this size without the start-up load (the caller
  // loads a channel list into the dialog itself), and makes it the
  // application's main window.
  BOOL Create(int width, int height);
  CChannelListWnd& ChannelListWnd() { return m_channelList; }
  // The channel-list window as the screens see it, null while it has no
  // window.
  CChannelListHost* ChannelListHost() override { return m_channelList.GetSafeHwnd() ? &m_channelList : nullptr; }

  // Builds (again) the menu bar with its two soft keys; only sets the title
  // on a touch device, which has no menu bar.
  void CreateMenuBar() override;
  HWND GetMenuBar() const { return m_hMenuBar; }
  // Whether the feed URL is one of the channel list's channels.
  BOOL IsUrlSubscribed(LPCWSTR url) override;
  // The Exit command: stops the refresh (and waits for its threads), closes
  // the frame and ends the message loop.
  void OnExit();

  BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, void* pHandlerInfo) override;
  BOOL PreCreateWindow(CREATESTRUCT& cs) override;
  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  // Writes an article text handed over for a page: the file at path is
  // deleted, and a non-empty text is written to the same path ending in
  // ".htm" instead of ".sft".
  static void WriteArticleText(LPCWSTR text, LPCWSTR path);

  // The doors through which a screen opens a screen of another family.
  HeadlineCounts RunHeadlineList(const CString& title, const CString& url, int channel,
                                 CChannelListFields* owner) override;
  BOOL RunReadingView(ArticleInfo& info, CWnd* parent, CArticleSource* source) override;
  BOOL ChooseChannelCategory(CString& chosen) override;
  void ShowChannelProperties(BOOL sheet, int channel, const CString& url, const CString& title,
                             CWnd* parent) override;

 protected:
  // The frame is owned by whoever created it (the application), not by its
  // window.
  void PostNcDestroy() override {}
  int OnCreate(LPCREATESTRUCT cs);
  void OnSetFocus(CWnd* old);
  void OnDrawItem(int id, LPDRAWITEMSTRUCT draw);
  void OnInitMenuPopup(CMenu* popup, UINT index, BOOL sysMenu);
  void OnActivate(UINT state, CWnd* other, BOOL minimized);

 private:
  void SetMenuKeyEnabled(BOOL enabled);

  HWND m_hMenuBar = nullptr;
  BOOL m_bExiting = FALSE;
  CChannelListWnd m_channelList;

  DECLARE_MESSAGE_MAP()
};
