// The channel-list window, a child of the main frame: it owns the
// channel-list dialog, starts and cancels refreshes, turns the refresh's
// progress messages into the dialog's progress band, writes the channels'
// counts into the channel list, and watches the download manager with
// timer 3 to end the refresh.
#pragma once

#include <atomic>

#include "framework/afx.h"
#include "framework/wnd.h"
#include "quillet/screens/channel_list_dlg.h"

class CChannelListWnd : public CWnd {
 public:
  CChannelListWnd();
  ~CChannelListWnd() override;

  // Creates the window filling the frame, and its dialog.
  BOOL Create(CWnd* frame, const RECT& rect);
  CChannelListDlg& Dialog() { return m_dialog; }

  // The Refresh/Cancel command.
  void OnRefresh();
  void OnTimer(UINT_PTR id);
  // The end of a refresh, sent on by the main frame.
  void OnDownloadEnd();
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  BOOL IsRunActive() const { return m_bRunActive; }
  BOOL IsStartPending() const { return m_bStartPending; }

 private:
  void StartRun();
  void CancelRun();

  CChannelListDlg m_dialog;
  std::atomic<BOOL> m_bRunActive{FALSE};
  std::atomic<BOOL> m_bStartPending{FALSE};

  DECLARE_MESSAGE_MAP()
};
