// What the screen families reach of the frame: the channel list that the
// main frame shows (CChannelListHost, which the channel-list window
// implements) and the doors to the screens of other families
// (CScreenFrame, which the main frame implements). A family includes this
// header, never the frame's headers nor another family's: a screen of
// another family opens through the frame.
#pragma once

#include "framework/afx.h"
#include "framework/wnd.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/screens/article_info.h"

// The channel-list window as the screens see it.
class CChannelListHost {
 public:
  virtual ~CChannelListHost() = default;

  // The window itself, to which the channel commands go; its parent is the
  // frame.
  virtual CWnd* HostWindow() = 0;
  // The fields of the channel-list dialog (the channel-list document, the
  // rows, the reload lists), or null while the dialog has no window.
  virtual CChannelListFields* ShownChannelList() = 0;
  // Empties the rows and the entry lists and walks the document again.
  virtual void ReloadChannelRows() = 0;
  // The category shown: "N/A" or "" for every channel, a category name, or
  // "Google Reader - <label>".
  virtual CString GetCurrentCategory() const = 0;
  // Stores the category as the default one and shows it.
  virtual void SetDefaultCategory(LPCWSTR category) = 0;
  // Redraws the channel list and reloads its rows shortly.
  virtual void RefreshList() = 0;
  // Whether a refresh runs, and whether one waits to start.
  virtual BOOL IsRunActive() const = 0;
  virtual BOOL IsStartPending() const = 0;
  // Empties the subscribed-URL list (each reload fills it again).
  virtual void ForgetSubscriptions() = 0;
  // The row builder of the channel-list document's walk: one attribute of
  // a channel outline, or an empty name and value at the end of each.
  virtual void ReportChannelOutline(LPCWSTR category, LPCWSTR name, LPCWSTR value) = 0;
};

// The walk callback of the channel-list document whose context is a
// CChannelListHost.
inline void ReportChannelOutlineTo(void* host, LPCWSTR category, LPCWSTR name, LPCWSTR value) {
  static_cast<CChannelListHost*>(host)->ReportChannelOutline(category, name, value);
}

// What the headline list leaves of the channel when it closes.
struct HeadlineCounts {
  // The list loaded the channel (and so has its counts).
  BOOL bKnown = FALSE;
  BOOL bChannelDeleted = FALSE;
  int nChannel = 0, nItems = 0, nFresh = 0;
};

// The main frame as the screens see it: the channel list it shows and the
// doors to the screens of the families.
class CScreenFrame {
 public:
  virtual ~CScreenFrame() = default;

  // The channel-list window, or null while it has no window.
  virtual CChannelListHost* ChannelListHost() = 0;
  // Builds (again) the frame's menu bar with its two soft keys.
  virtual void CreateMenuBar() = 0;
  // Whether the feed URL is one of the channel list's channels.
  virtual BOOL IsUrlSubscribed(LPCWSTR url) = 0;

  // Runs the headline list of one channel of the channel list (owner).
  virtual HeadlineCounts RunHeadlineList(const CString& title, const CString& url, int channel,
                                         CChannelListFields* owner) = 0;
  // Runs the reading view of the article; info is the article it shows when
  // it closes. TRUE when the user asked to delete that article.
  virtual BOOL RunReadingView(ArticleInfo& info, CWnd* parent, CArticleSource* source) = 0;
  // Lets the user pick the category a channel moves to. FALSE when none was
  // chosen.
  virtual BOOL ChooseChannelCategory(CString& chosen) = 0;
  // The channel properties: the sheet with its Details tab, or the dialog
  // form.
  virtual void ShowChannelProperties(BOOL sheet, int channel, const CString& url, const CString& title,
                                     CWnd* parent) = 0;
};

// The program's main frame, or null when the main window is none.
inline CScreenFrame* ScreenFrame() { return dynamic_cast<CScreenFrame*>(AfxGetMainWnd()); }
// The main frame's channel-list window, or null.
inline CChannelListHost* ChannelListHost() {
  CScreenFrame* frame = ScreenFrame();
  return frame ? frame->ChannelListHost() : nullptr;
}
