// The channel-list window, a child of the main frame: it owns the
// channel-list dialog, starts and cancels refreshes, turns the refresh's
// progress messages into the dialog's progress band, writes the channels'
// counts into the channel list, and watches the download manager with
// timer 3 to end the refresh.
#pragma once

#include <atomic>

#include "framework/afx.h"
#include "quillet/screens/channel_list_dlg.h"
#include "user/user.h"

class CChannelListWnd {
 public:
  CChannelListWnd();
  ~CChannelListWnd();
  CChannelListWnd(const CChannelListWnd&) = delete;
  CChannelListWnd& operator=(const CChannelListWnd&) = delete;

  // Creates the window (child of the frame) and its dialog.
  BOOL Create(HWND frame, int width, int height);
  HWND GetSafeHwnd() const { return m_hWnd; }
  CChannelListDlg& Dialog() { return m_dialog; }

  // The Refresh/Cancel command.
  void OnRefresh();
  void OnTimer(UINT_PTR id);
  // The end of a refresh, forwarded by the main frame.
  void OnDownloadEnd();
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

  BOOL IsRunActive() const { return m_bRunActive; }
  BOOL IsStartPending() const { return m_bStartPending; }

 private:
  void StartRun();
  void CancelRun();
  static LRESULT CALLBACK StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND m_hWnd = nullptr;
  CChannelListDlg m_dialog;
  std::atomic<BOOL> m_bRunActive{FALSE};
  std::atomic<BOOL> m_bStartPending{FALSE};
};
