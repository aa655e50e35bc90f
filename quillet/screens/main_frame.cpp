#include "quillet/screens/main_frame.h"

#include "quillet/screens/reader_app.h"
#include "quillet/screens/screen_messages.h"
#include "common/connection.h"

CMainFrame::CMainFrame() = default;

CMainFrame::~CMainFrame() {
  if (m_hWnd && IsWindow(m_hWnd)) {
    SetWindowLongW(m_hWnd, GWL_USERDATA, 0);
    DestroyWindow(m_hWnd);
  }
}

BOOL CMainFrame::Create(int width, int height) {
  WNDCLASSW existing{};
  if (!GetClassInfoW(nullptr, QUILLET_MAIN_WINDOW_CLASS, &existing)) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = StaticProc;
    wc.lpszClassName = QUILLET_MAIN_WINDOW_CLASS;
    RegisterClassW(&wc);
  }
  m_hWnd = CreateWindowExW(0, QUILLET_MAIN_WINDOW_CLASS, u"Quillet", 0, 0, 0, width, height, nullptr, nullptr,
                           nullptr, this);
  if (!m_hWnd) return FALSE;
  if (auto* app = dynamic_cast<CReaderApp*>(GetRefreshApp())) app->m_hMainWnd = m_hWnd;
  return m_channelList.Create(m_hWnd, width, height);
}

LRESULT CALLBACK CMainFrame::StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // The creation parameter arrives with the first creation message.
  if ((message == WM_NCCREATE || message == WM_CREATE) && !GetWindowLongW(window, GWL_USERDATA)) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongW(window, GWL_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    reinterpret_cast<CMainFrame*>(create->lpCreateParams)->m_hWnd = window;
  }
  auto* self = reinterpret_cast<CMainFrame*>(GetWindowLongW(window, GWL_USERDATA));
  if (self) return self->WindowProc(message, wParam, lParam);
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CMainFrame::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND list = m_channelList.GetSafeHwnd();
  switch (message) {
    case WM_CHANNEL_COUNTS_CHANGED:
    case WM_CHANNELS_DOWNLOAD_END:
    case WM_CHANNELS_DOWNLOAD_PROGRESS:
    case WM_CONNECTION_STATUS:
      return list ? SendMessageW(list, message, wParam, lParam) : 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == ID_APP_EXIT_COMMAND) {
        SetDownloadStop(TRUE);
        DeleteFileW(u"QuilletDownloader.tmp");
        PostQuitMessage(0);
        return 0;
      }
      if (LOWORD(wParam) == ID_REFRESH_CHANNELS && list) return SendMessageW(list, message, wParam, lParam);
      break;
    default:
      break;
  }
  return DefWindowProcW(m_hWnd, message, wParam, lParam);
}
