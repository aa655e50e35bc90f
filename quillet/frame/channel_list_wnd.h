// The channel-list window, the child that fills the main frame. It owns the
// channel-list dialog (with the painted channel list), loads the channel
// list "Channels.opml" at start-up and reloads it on request, builds the
// rows from the list's outlines (the shown category and label decide which
// channels show), owns the channel list's commands and the Refresh/Cancel
// soft key, starts and cancels the refresh run, and receives the private
// messages of Monitor, of the run, of the connection wrapper and of other
// programs, which the frame sends on to it.
#pragma once

#include <atomic>

#include "framework/afx.h"
#include "framework/wnd.h"
#include "quillet/refresh/refresh_run.h"
#include "quillet/channel_list/channel_list_dlg.h"
#include "quillet/screens/screen_frame.h"

// The window's timers: the start-up load, the reload of the channel list,
// the end-of-run poll of the download manager (REFRESH_TIMER_ID), and the
// repeated stop of a cancelled refresh's transfers.
#define CHANNEL_LIST_TIMER_STARTUP 1
#define CHANNEL_LIST_TIMER_RELOAD 2
#define CHANNEL_LIST_TIMER_STOP 4

class CChannelListWnd : public CWnd, public CChannelListHost {
 public:
  CChannelListWnd();
  ~CChannelListWnd() override;

  // Creates the window in the frame (the frame places it), and its dialog.
  BOOL Create(CWnd* frame, const RECT& rect);
  CChannelListDlg& Dialog() { return m_dialog; }

  // The category the list shows: "N/A" or "" for every channel, a category
  // name, or "Google Reader - <label>" for the synchronised channels of a
  // label.
  CString GetCurrentCategory() const override { return m_strCategory; }
  // Stores the category in the setting "DefaultCategory" and shows it.
  void SetDefaultCategory(LPCWSTR category) override;
  // Redraws the dialog and reloads the rows shortly (timer 2).
  void RefreshList() override;
  // Tells the refresh run to stop; TRUE.
  BOOL StopDownloadThread();
  // Stops the refresh as Cancel and Exit do: the stop flag, then, while the
  // refresh works, its transfers, the sync agency's and a running fetch
  // program's.
  void StopRefresh();
  // Stops the refresh and waits (at most timeoutMs) until the run's thread
  // and the download manager's worker have ended, answering what they send
  // to this thread meanwhile and stopping again what they start. TRUE when
  // neither runs any more (at once when none ran).
  BOOL StopRefreshAndWait(DWORD timeoutMs);
  // Whether the thread of a refresh run still lives.
  BOOL IsRunThreadAlive() const { return m_run.IsAlive(); }
  // Whether the run's thread or the download manager's worker still works.
  BOOL IsRefreshWorking() const;
  static BOOL GetDownloadStopFlag();
  // The soft key reads "Cancel" while running, else "Refresh"; the
  // dialog's band and bar follow. At the end of a run the download
  // manager's queue is emptied.
  void SetRefreshSoftKey(BOOL running);
  BOOL IsSubscribed(LPCWSTR url);
  // Empties the subscribed-URL list (each reload fills it again).
  void ForgetSubscriptions() override { m_subscribed.RemoveAll(); }

  // The Refresh/Cancel command.
  void OnRefresh();
  void OnTimer(UINT_PTR id);
  // The end of a refresh, sent on by the main frame.
  void OnDownloadEnd();

  BOOL IsRunActive() const override { return m_bRunActive; }
  BOOL IsStartPending() const override { return m_bStartPending; }

  // The row builder: called by the channel-list document for every
  // attribute of every channel outline (with the text of the category that
  // holds it) and once more with an empty name and value at the end of each
  // outline. The context is the window.
  static void OnChannelOutline(void* context, LPCWSTR category, LPCWSTR name, LPCWSTR value);

  // The channel list as the screens see it (CChannelListHost).
  CWnd* HostWindow() override { return this; }
  CChannelListFields* ShownChannelList() override { return m_dialog.GetSafeHwnd() ? &m_dialog : nullptr; }
  void ReloadChannelRows() override { m_dialog.ReloadRows(); }
  void ReportChannelOutline(LPCWSTR category, LPCWSTR name, LPCWSTR value) override {
    OnChannelOutline(this, category, name, value);
  }

  // The welcome page of the first start (RunWelcomePage); it returns TRUE
  // when confirmed.
  static BOOL (*s_pfnWelcomePage)(CWnd* parent);

  // Sets the new-item count of one channel (the focused row) or of every
  // row, in "Channels.opml", in the rows and in the item stores: 0 and
  // every item read, or the item count and every item unread.
  void SetChannelReadState(BOOL all, BOOL read);
  // Deletes every file of the channel (Ch%03d, never another channel's).
  static int DeleteChannelFiles(int channel);

  // FALSE: no start-up load (the owner loads a channel list itself).
  BOOL m_bLoadAtStart = TRUE;

  BOOL PreCreateWindow(CREATESTRUCT& cs) override;
  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  int OnCreate(LPCREATESTRUCT cs);
  void OnDestroy();
  void OnSize(UINT type, int cx, int cy);
  void OnPaint();
  void OnNewChannel();
  void OnOptionPage();
  void OnRefreshChannel();
  void OnChooseCategory();
  void OnLanguage();
  void OnNothing() {}
  // The channel commands: on the focused row or on every row.
  void OnChannelProperties();
  void OnMarkRead() { SetChannelReadState(FALSE, TRUE); }
  void OnMarkUnread() { SetChannelReadState(FALSE, FALSE); }
  void OnAllRead() { SetChannelReadState(TRUE, TRUE); }
  void OnAllUnread() { SetChannelReadState(TRUE, FALSE); }
  void OnDeleteChannel();
  void OnChangeCategory();
  void OnExport();
  void OnDeleteAllData();
  void OnAbout();
  void OnUpdateRowCommand(CCmdUI* cmdUI);
  void OnUpdateListCommand(CCmdUI* cmdUI);

 private:
  void StartupLoad();
  void Reload();
  void StartRun();
  void CancelRun();
  void OnChannelHandover(int channel);
  // The row the one-channel commands act on, or -1 (and nothing to act on:
  // no dialog, list or channel list). While a refresh runs the user is
  // told that the command has to wait, and -1 returned.
  int CommandRow();
  BOOL RefusedDuringRun();

  // The values of the outline being reported.
  struct Outline {
    CString title, url, updateTime = u"n/a";
    int channel = -1, itemCount = -1, newCount = -1;
    BOOL labelMatch = TRUE;
  } m_outline;

  CString m_strCategory;
  std::atomic<BOOL> m_bRunActive{FALSE};
  std::atomic<BOOL> m_bStartPending{FALSE};
  // The channel list has been read (the start-up load and its reload are
  // done); a Refresh that came before is started then.
  BOOL m_bListLoaded = FALSE;
  BOOL m_bRefreshAfterLoad = FALSE;
  CRefreshRunThread m_run;
  CStringList m_subscribed;
  BOOL m_bPressSwallowed = FALSE;
  CChannelListDlg m_dialog;

  DECLARE_MESSAGE_MAP()
};
