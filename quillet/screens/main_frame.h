// The main window: it owns the channel-list window, sends the refresh's
// messages on to it and closes the program on the Exit command.
#pragma once

#include "framework/afx.h"
#include "framework/frame.h"
#include "quillet/screens/channel_list_wnd.h"

class CMainFrame : public CFrameWnd {
 public:
  CMainFrame();
  ~CMainFrame() override;

  // Creates the frame (window class "QuilletMainWnd") and the channel-list
  // window in it, and makes the frame the application's main window.
  BOOL Create(int width, int height);
  CChannelListWnd& ChannelListWnd() { return m_channelList; }

 protected:
  // The frame is owned by whoever created it (the application), not by its
  // window.
  void PostNcDestroy() override {}
  LRESULT OnForwardToChannelList(WPARAM wParam, LPARAM lParam);
  void OnAppExit();
  void OnRefreshChannels();

 private:
  CChannelListWnd m_channelList;

  DECLARE_MESSAGE_MAP()
};
