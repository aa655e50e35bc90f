#include "quillet/screens/main_frame.h"

#include "common/connection.h"
#include "quillet/screens/screen_messages.h"

BEGIN_MESSAGE_MAP(CMainFrame, CFrameWnd)
ON_MESSAGE(WM_CHANNEL_COUNTS_CHANGED, OnForwardToChannelList)
ON_MESSAGE(WM_CHANNELS_DOWNLOAD_END, OnForwardToChannelList)
ON_MESSAGE(WM_CHANNELS_DOWNLOAD_PROGRESS, OnForwardToChannelList)
ON_MESSAGE(WM_CONNECTION_STATUS, OnForwardToChannelList)
ON_COMMAND(ID_APP_EXIT_COMMAND, OnAppExit)
ON_COMMAND(ID_REFRESH_CHANNELS, OnRefreshChannels)
END_MESSAGE_MAP()

CMainFrame::CMainFrame() = default;

CMainFrame::~CMainFrame() {
  if (CWinApp* app = AfxGetApp(); app && app->m_pMainWnd == this) app->m_pMainWnd = nullptr;
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
}

BOOL CMainFrame::Create(int width, int height) {
  WNDCLASSW existing{};
  if (!::GetClassInfoW(AfxGetInstanceHandle(), u"WCE_" QUILLET_MAIN_WINDOW_CLASS, &existing)) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = AfxGetInstanceHandle();
    wc.lpszClassName = QUILLET_MAIN_WINDOW_CLASS;
    AfxRegisterClass(&wc);
  }
  CRect rect(0, 0, width, height);
  if (!CFrameWnd::Create(QUILLET_MAIN_WINDOW_CLASS, u"Quillet", 0, rect)) return FALSE;
  if (CWinApp* app = AfxGetApp()) app->m_pMainWnd = this;
  CRect area;
  GetClientRect(&area);
  return m_channelList.Create(this, area);
}

LRESULT CMainFrame::OnForwardToChannelList(WPARAM wParam, LPARAM lParam) {
  if (!m_channelList.GetSafeHwnd()) return 0;
  const MSG* current = GetCurrentMessage();
  return m_channelList.SendMessage(current->message, wParam, lParam);
}

void CMainFrame::OnAppExit() {
  SetDownloadStop(TRUE);
  ::DeleteFileW(u"QuilletDownloader.tmp");
  ::PostQuitMessage(0);
}

void CMainFrame::OnRefreshChannels() { m_channelList.OnRefresh(); }
