// The main window: it owns the channel-list window, forwards the refresh's
// messages to it and closes the program on the Exit command.
#pragma once

#include "framework/afx.h"
#include "quillet/screens/channel_list_wnd.h"
#include "user/user.h"

class CMainFrame {
 public:
  CMainFrame();
  ~CMainFrame();
  CMainFrame(const CMainFrame&) = delete;
  CMainFrame& operator=(const CMainFrame&) = delete;

  // Creates the top-level window and the channel-list window in it, and
  // makes the frame the application's main window.
  BOOL Create(int width, int height);
  HWND GetSafeHwnd() const { return m_hWnd; }
  CChannelListWnd& ChannelListWnd() { return m_channelList; }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  HWND m_hWnd = nullptr;
  CChannelListWnd m_channelList;
};
