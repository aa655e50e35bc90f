#include "quillet/screens/channel_list_wnd.h"

#include "common/connection.h"
#include "common/log.h"
#include "common/url_download.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/refresh/download_manager.h"
#include "quillet/refresh/refresh_run.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/ui/channel_list_view.h"

BEGIN_MESSAGE_MAP(CChannelListWnd, CWnd)
ON_WM_TIMER()
ON_COMMAND(ID_REFRESH_CHANNELS, OnRefresh)
END_MESSAGE_MAP()

CChannelListWnd::CChannelListWnd() = default;

CChannelListWnd::~CChannelListWnd() {
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
}

BOOL CChannelListWnd::Create(CWnd* frame, const RECT& rect) {
  if (!CreateEx(0, AfxRegisterWndClass(0), u"", WS_CHILD | WS_VISIBLE, rect, frame, 0)) return FALSE;
  return m_dialog.Create(this);
}

void CChannelListWnd::StartRun() {
  ClearUrlDownloadAbort();
  m_bRunActive = TRUE;
  if (!StartRefreshRun(&m_dialog)) m_bRunActive = FALSE;
}

void CChannelListWnd::CancelRun() {
  m_dialog.TerminateAgency();
  StopUrlDownload();
  WriteLog(u"Download thread will be terminated, waiting...");
  SetDownloadStop(TRUE);
}

void CChannelListWnd::OnRefresh() {
  if (m_bRunActive) {
    CancelRun();
    return;
  }
  BOOL proxy = ReadSettingInt(u"Settings", u"UseNetAgency", 0);
  if (CanConnectQuickly(proxy)) {
    StartRun();
  } else if (ConnectForUrl(m_hWnd, proxy)) {
    m_bStartPending = TRUE;
  }
}

void CChannelListWnd::OnTimer(UINT_PTR id) {
  if (id != REFRESH_TIMER_ID) return;
  CRefreshApp* app = GetRefreshApp();
  if (!app) return;
  app->DownloadManager().m_hNotify = m_hWnd;
  if (!app->DownloadManager().IsIdle()) return;
  SetDownloadStop(FALSE);
  HWND main = app->GetMainWindowHandle();
  if (main) ::SendMessageW(main, WM_CHANNELS_DOWNLOAD_END, 0, 0);
  else OnDownloadEnd();
  ::KillTimer(m_hWnd, REFRESH_TIMER_ID);
  BroadcastRefreshMessage(MSG_DOWNLOAD_FINISHED);
}

void CChannelListWnd::OnDownloadEnd() {
  m_bRunActive = FALSE;
  if (CRefreshApp* app = GetRefreshApp()) app->DownloadManager().Clear();
}

LRESULT CChannelListWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CHANNELS_DOWNLOAD_END:
      OnDownloadEnd();
      return 0;
    case WM_CONNECTION_STATUS:
      if (wParam == CONNECTION_STATUS_ESTABLISHED && m_bStartPending) {
        m_bStartPending = FALSE;
        StartRun();
      } else if ((wParam == CONNECTION_STATUS_RELEASED || wParam == CONNECTION_STATUS_NO_FAST_PATH ||
                  wParam == CONNECTION_STATUS_PROBE_FAILED) &&
                 m_bRunActive) {
        CancelRun();
      }
      return 0;
    case WM_CHANNELS_DOWNLOAD_PROGRESS:
      KeepAwake();
      m_dialog.m_nProgress = RefreshProgressPercent(wParam, lParam);
      return 0;
    case WM_CHANNEL_COUNTS_CHANGED: {
      CChannelListView* view = m_dialog.m_pChannelList;
      if (!view || !m_dialog.m_pOpml) return 0;
      int row = view->FindItemById(int(wParam));
      CString url;
      if (row < 0 || !view->GetListItemTitle(row, url)) return 0;
      CString text;
      text.Format(u"%d", int(lParam & 0xFFFF));
      SetChannelAttributeIfChanged(m_dialog.m_pOpml, url, u"itemCount", text);
      text.Format(u"%d", int((lParam >> 16) & 0xFFFF));
      SetChannelAttributeIfChanged(m_dialog.m_pOpml, url, u"newItemCount", text);
      return 0;
    }
    default:
      break;
  }
  return CWnd::WindowProc(message, wParam, lParam);
}
