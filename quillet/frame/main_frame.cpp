#include "quillet/frame/main_frame.h"

#include <mutex>

#include "common/connection.h"
#include "common/localize.h"
#include "common/log.h"
#include "common/settings.h"
#include "quillet/frame/reader_app.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"

BEGIN_MESSAGE_MAP(CMainFrame, CFrameWnd)
ON_WM_CREATE()
ON_WM_SETFOCUS()
ON_WM_DRAWITEM()
ON_COMMAND(ID_APP_EXIT_COMMAND, OnExit)
ON_WM_INITMENUPOPUP()
ON_WM_ACTIVATE()
END_MESSAGE_MAP()

CMainFrame::CMainFrame() = default;

CMainFrame::~CMainFrame() {
  if (CWinApp* app = AfxGetApp(); app && app->m_pMainWnd == this) app->m_pMainWnd = nullptr;
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
}

BOOL CMainFrame::PreCreateWindow(CREATESTRUCT& cs) {
  if (!CFrameWnd::PreCreateWindow(cs)) return FALSE;
  // One class of the program's own, a copy of the framework's frame class
  // under a new name, registered once per process.
  static std::once_flag once;
  std::call_once(once, [&cs] {
    WNDCLASSW wc{};
    if (!::GetClassInfoW(AfxGetInstanceHandle(), cs.lpszClass, &wc)) {
      wc.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
      wc.lpfnWndProc = ::DefWindowProcW;
    }
    wc.hInstance = AfxGetInstanceHandle();
    wc.lpszClassName = QUILLET_MAIN_WINDOW_CLASS;
    wc.hIcon = nullptr;
    AfxRegisterClass(&wc);
  });
  cs.lpszClass = QUILLET_MAIN_WINDOW_CLASS;
  return TRUE;
}

BOOL CMainFrame::LoadFrame(UINT, DWORD style, CWnd* parent, CCreateContext*) {
  CString title(GetTouchFlag() ? u"Quillet Reach" : u"Quillet");
  // An update task's frame is made minimised, so that nothing of it is
  // painted while it is made and while it runs; any other is made shown.
  CReaderApp* app = GetReaderApp();
  const DWORD minimized = app && app->m_bUpdateTask ? WS_MINIMIZE : 0;
  if (!CFrameWnd::Create(nullptr, title, (style & ~WS_MINIMIZE) | (style & minimized), rectDefault, parent))
    return FALSE;
  if (CWinApp* app = AfxGetApp()) app->m_pMainWnd = this;
  return TRUE;
}

BOOL CMainFrame::Create(int width, int height) {
  m_channelList.m_bLoadAtStart = FALSE;
  CRect rect(0, 0, width, height);
  if (!CFrameWnd::Create(nullptr, u"Quillet", 0, rect)) return FALSE;
  if (CWinApp* app = AfxGetApp()) app->m_pMainWnd = this;
  return TRUE;
}

int CMainFrame::OnCreate(LPCREATESTRUCT) {
  InitScreenDpi(0);
  if (Default() == -1) return -1;
  CRect empty(0, 0, 0, 0);
  if (!m_channelList.Create(this, empty)) return -1;

  const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
  CRect frame;
  GetWindowRect(&frame);
  if (!GetTouchFlag()) {
    CreateMenuBar();
    int barHeight = 0;
    if (m_hMenuBar) {
      RECT bar{};
      ::GetWindowRect(m_hMenuBar, &bar);
      barHeight = bar.bottom - bar.top;
    }
    SetWindowPos(nullptr, frame.left, frame.top, screenWidth, screenHeight - frame.top - barHeight,
                 SWP_NOZORDER | SWP_SHOWWINDOW);
    CRect client;
    GetClientRect(&client);
    m_channelList.MoveWindow(0, 0, client.Width(), client.Height(), TRUE);
  } else {
    SHFullScreen(m_hWnd, SHFS_HIDESIPBUTTON);
    if (HWND bar = SHFindMenuBar(m_hWnd)) ::ShowWindow(bar, SW_HIDE);
    SetWindowPos(nullptr, frame.left, frame.top, screenWidth, screenHeight - frame.top,
                 SWP_NOZORDER | SWP_SHOWWINDOW);
    m_hMenuBar = nullptr;
    CRect client;
    GetClientRect(&client);
    m_channelList.MoveWindow(0, 0, client.Width(), client.Height(), TRUE);
  }
  SetWindowText(GetTouchFlag() ? u"Quillet Reach" : u"Quillet");
  // The wait cursor shows until the channel list has been loaded (the
  // channel-list window takes it away); a frame that loads nothing shows none.
  if (m_channelList.m_bLoadAtStart) ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
  return 0;
}

void CMainFrame::CreateMenuBar() {
  if (GetTouchFlag()) {
    SetWindowText(u"Quillet Reach");
    return;
  }
  if (m_hMenuBar) {
    ::ShowWindow(m_hMenuBar, SW_HIDE);
    ::SendMessageW(m_hMenuBar, WM_CLOSE, 0, 0);
    m_hMenuBar = nullptr;
  }
  HWND bar = ::CreateMenuBar(m_hWnd, IDR_MAINFRAME);
  if (!bar) return;
  m_hMenuBar = bar;
  SetSoftKeyText(m_hMenuBar, ID_MENU_KEY, u"Menu");
  SetSoftKeyText(m_hMenuBar, ID_REFRESH_CHANNELS, u"Refresh");
  ::DrawMenuBar(m_hMenuBar);
  SetWindowText(u"Quillet");
}

BOOL CMainFrame::IsUrlSubscribed(LPCWSTR url) {
  if (!m_channelList.GetSafeHwnd() || !url) return FALSE;
  return m_channelList.IsSubscribed(url);
}

void CMainFrame::OnSetFocus(CWnd*) {
  if (m_channelList.GetSafeHwnd()) m_channelList.SetFocus();
}

void CMainFrame::OnDrawItem(int, LPDRAWITEMSTRUCT draw) {
  // Owner-drawn menu items are not drawn here.
  if (draw && draw->CtlType == ODT_MENU) return;
  Default();
}

void CMainFrame::OnInitMenuPopup(CMenu* popup, UINT index, BOOL sysMenu) {
  CFrameWnd::OnInitMenuPopup(popup, index, sysMenu);
  if (!popup || !popup->GetSafeHmenu()) return;
  HMENU menu = popup->GetSafeHmenu();
  // The category popup lists category names, which are not translated.
  if (::GetMenuItemID(menu, 0) == ID_ALL_CATEGORIES && !::GetSubMenu(menu, 0)) return;
  LocalizeMenu(menu);
}

void CMainFrame::OnActivate(UINT state, CWnd* other, BOOL minimized) {
  CFrameWnd::OnActivate(state, other, minimized);
  if (GetTouchFlag()) SHFullScreen(m_hWnd, SHFS_HIDESIPBUTTON);
}

BOOL CMainFrame::OnCmdMsg(UINT nID, int nCode, void* pExtra, void* pHandlerInfo) {
  if (m_channelList.GetSafeHwnd() && m_channelList.OnCmdMsg(nID, nCode, pExtra, pHandlerInfo)) return TRUE;
  return CFrameWnd::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}

BOOL CMainFrame::PreTranslateMessage(MSG* msg) {
  if (msg && msg->message == WM_KEYDOWN) {
    if (msg->wParam == VK_LEFT) msg->wParam = VK_UP;
    else if (msg->wParam == VK_RIGHT) msg->wParam = VK_DOWN;
  }
  return CFrameWnd::PreTranslateMessage(msg);
}

void CMainFrame::SetMenuKeyEnabled(BOOL enabled) {
  HWND bar = SHFindMenuBar(m_hWnd);
  if (!bar) return;
  TBBUTTONINFOW button{};
  button.cbSize = sizeof button;
  button.dwMask = TBIF_STATE;
  button.fsState = enabled ? TBSTATE_ENABLED : 0;
  ::SendMessageW(bar, TB_SETBUTTONINFO, ID_MENU_KEY, reinterpret_cast<LPARAM>(&button));
  ::DrawMenuBar(bar);
}

void CMainFrame::WriteArticleText(LPCWSTR text, LPCWSTR path) {
  if (!path || !*path) return;
  if (FileAccess(path)) ::DeleteFileW(path);
  if (!text || !*text) return;
  CString target(path);
  int dot = target.ReverseFind(u'.');
  if (dot >= 0 && target.Mid(dot).CompareNoCase(u".sft") == 0) target = target.Left(dot) + u".htm";
  else if (dot < 0 || target.Mid(dot).CompareNoCase(u".htm") != 0) return;
  FILE* file = _wfopen(target, u"wt");
  if (!file) return;
  CStringA bytes(text);
  fprintf(file, "%s", bytes.GetString());
  fclose(file);
}

LRESULT CMainFrame::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  static const UINT start = RefreshMessage(MSG_DOWNLOAD_START);
  static const UINT finished = RefreshMessage(MSG_DOWNLOAD_FINISHED);
  static const UINT headlines = RefreshMessage(MSG_DOWNLOAD_HEADLINES_FINISHED);
  static const UINT uninstall = ::RegisterWindowMessageW(u"Quillet.Uninstall");
  if (message == start && start) {
    SetMenuKeyEnabled(FALSE);
    return 0;
  }
  if ((message == finished && finished) || (message == headlines && headlines)) {
    SetMenuKeyEnabled(TRUE);
    CRefreshApp* app = GetRefreshApp();
    if (message == finished && app && app->m_bUpdateTask) {
      WriteLog(u"Download finished and exit.");
      OnExit();
    }
    return 0;
  }
  if (message == uninstall && uninstall) {
    OnExit();
    return 0;
  }
  switch (message) {
    case WM_COPYDATA: {
      // An article text from another program: the text and the path, each
      // ended by a zero, copied into this process by the message.
      auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (!data || data->dwData != WM_ARTICLE_TEXT || !data->lpData) break;
      const auto* chars = static_cast<const WCHAR*>(data->lpData);
      size_t count = data->cbData / sizeof(WCHAR);
      size_t textEnd = 0;
      while (textEnd < count && chars[textEnd]) ++textEnd;
      if (textEnd >= count) return FALSE;
      size_t pathEnd = textEnd + 1;
      while (pathEnd < count && chars[pathEnd]) ++pathEnd;
      if (pathEnd >= count) return FALSE;
      CString text(chars, int(textEnd));
      CString path(chars + textEnd + 1, int(pathEnd - textEnd - 1));
      WriteArticleText(text, path);
      return TRUE;
    }
    case WM_ARTICLE_TEXT:
      // Only the copied form above is taken: the bare message's parameters
      // would be pointers into another process.
      break;
    case WM_ACTIVATE_INSTANCE: {
      CReaderApp* app = GetReaderApp();
      DWORD startTick = app ? app->m_dwUpdateStartTick.load() : 0;
      if (::GetTickCount() - startTick > 3000) {
        if (app) app->m_bUpdateTask = FALSE;
        ::SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<UINT_PTR>(m_hWnd) | 1));
        WriteLog(u"UPDATE TASK DOES NOT EXIT.");
      }
      break;
    }
    case WM_KEYDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_CHANNELS_DOWNLOAD_START:
    case WM_CHANNELS_DOWNLOAD_END:
    case WM_CHANNEL_COUNTS_CHANGED:
    case WM_CHANNELS_DOWNLOAD_PROGRESS:
    case WM_CONNECTION_STATUS:
    case WM_CHANNEL_HANDOVER:
      if (m_channelList.GetSafeHwnd()) m_channelList.SendMessage(message, wParam, lParam);
      break;
    default:
      break;
  }
  return CFrameWnd::DefWindowProc(message, wParam, lParam);
}

void CMainFrame::OnExit() {
  // Once: the download manager's worker may ask for the Exit of an update
  // task while an Exit already waits for the refresh to end.
  if (m_bExiting) return;
  m_bExiting = TRUE;
  CancelScheduledWait();
  // The refresh stops as Cancel stops it; the channel-list window waits for
  // its threads before its dialog and list go with the frame.
  if (m_channelList.GetSafeHwnd()) m_channelList.StopRefresh();
  else {
    WriteLog(u"Download thread will be terminated, waiting...");
    SetDownloadStop(TRUE);
  }
  ::DeleteFileW(u"QuilletDownloader.tmp");
  if (m_hWnd && ::IsWindow(m_hWnd)) SendMessage(WM_CLOSE, 0, 0);
  ::PostQuitMessage(0);
}
