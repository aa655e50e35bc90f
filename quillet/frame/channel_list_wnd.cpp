#include "quillet/frame/channel_list_wnd.h"

#include <thread>

#include "common/connection.h"
#include "common/localize.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/url_download.h"
#include "net/urlfuncs.h"
#include "net/wininet.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/refresh/download_manager.h"
#include "quillet/refresh/refresh_run.h"
#include "quillet/screens/channel_files.h"
#include "quillet/channel_list/channel_list_menu_dlg.h"
#include "quillet/frame/main_frame.h"
#include "quillet/new_channel/new_wizard_dlg.h"
#include "quillet/options/option_download_dlg.h"
#include "quillet/options/option_network_dlg.h"
#include "quillet/options/option_auto_update_dlg.h"
#include "quillet/options/option_storage_dlg.h"
#include "quillet/frame/reader_app.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/new_channel/welcome_dlg.h"
#include "quillet/ui/channel_list_view.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"

BOOL (*CChannelListWnd::s_pfnWelcomePage)(CWnd* parent) = RunWelcomePage;

BEGIN_MESSAGE_MAP(CChannelListWnd, CWnd)
ON_WM_PAINT()
ON_WM_CREATE()
ON_WM_DESTROY()
ON_WM_SIZE()
ON_WM_TIMER()
ON_COMMAND(ID_REFRESH_CHANNELS, OnRefresh)
ON_COMMAND(ID_NEW_CHANNEL, OnNewChannel)
ON_COMMAND(ID_OPTIONS_AUTO_UPDATE, OnOptionPage)
ON_COMMAND(ID_OPTIONS_STORAGE, OnOptionPage)
ON_COMMAND(ID_OPTIONS_GENERAL, OnOptionPage)
ON_COMMAND(ID_OPTIONS_NETWORK, OnOptionPage)
ON_COMMAND(ID_REFRESH_CHANNEL, OnRefreshChannel)
ON_UPDATE_COMMAND_UI(ID_REFRESH_CHANNEL, OnUpdateRowCommand)
ON_COMMAND(ID_CHOOSE_CATEGORY, OnChooseCategory)
ON_COMMAND(ID_LANGUAGE, OnLanguage)
ON_COMMAND(ID_CHANNEL_PROPERTIES, OnChannelProperties)
ON_COMMAND(ID_MARK_READ, OnMarkRead)
ON_COMMAND(ID_MARK_UNREAD, OnMarkUnread)
ON_COMMAND(ID_ALL_READ, OnAllRead)
ON_COMMAND(ID_ALL_UNREAD, OnAllUnread)
ON_COMMAND(ID_DELETE_CHANNEL, OnDeleteChannel)
ON_COMMAND(ID_CHANGE_CATEGORY, OnChangeCategory)
ON_COMMAND(ID_EXPORT, OnExport)
ON_COMMAND(ID_DELETE_ALL_DATA, OnDeleteAllData)
ON_COMMAND(ID_APP_ABOUT_COMMAND, OnAbout)
ON_UPDATE_COMMAND_UI(ID_CHANNEL_PROPERTIES, OnUpdateRowCommand)
ON_UPDATE_COMMAND_UI(ID_DELETE_CHANNEL, OnUpdateRowCommand)
ON_UPDATE_COMMAND_UI(ID_CHANGE_CATEGORY, OnUpdateRowCommand)
ON_UPDATE_COMMAND_UI(ID_MARK_READ, OnUpdateRowCommand)
ON_UPDATE_COMMAND_UI(ID_MARK_UNREAD, OnUpdateRowCommand)
ON_UPDATE_COMMAND_UI(ID_ALL_READ, OnUpdateListCommand)
ON_UPDATE_COMMAND_UI(ID_ALL_UNREAD, OnUpdateListCommand)
ON_COMMAND(ID_RENAME, OnNothing)
ON_COMMAND(ID_ADD_DELETE, OnNothing)
END_MESSAGE_MAP()

namespace {

int LeadingNumber(LPCWSTR value) {
  CStringA bytes(value ? value : u"");
  return atoi(bytes.GetString());
}

}  // namespace

CChannelListWnd::CChannelListWnd() { m_strCategory = ReadSettingString(u"Settings", u"DefaultCategory", u"N/A"); }

CChannelListWnd::~CChannelListWnd() {
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
}

BOOL CChannelListWnd::Create(CWnd* frame, const RECT& rect) {
  return CreateEx(0, nullptr, u"", WS_CHILD | WS_VISIBLE | WS_BORDER, rect, frame, AFX_IDW_PANE_FIRST);
}

BOOL CChannelListWnd::PreCreateWindow(CREATESTRUCT& cs) {
  if (!CWnd::PreCreateWindow(cs)) return FALSE;
  cs.style &= ~WS_BORDER;
  cs.lpszClass = AfxRegisterWndClass(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS, nullptr,
                                     reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1)), nullptr);
  return TRUE;
}

BOOL CChannelListWnd::PreTranslateMessage(MSG* msg) {
  if (msg && msg->message == WM_KEYDOWN) {
    if (msg->wParam == VK_LEFT) msg->wParam = VK_UP;
    else if (msg->wParam == VK_RIGHT) msg->wParam = VK_DOWN;
  }
  return FALSE;
}

int CChannelListWnd::OnCreate(LPCREATESTRUCT) {
  if (Default() == -1) return -1;
  // Without the start-up load the owner has loaded the list itself. The
  // load's wait starts with the window: it cannot come before this returns,
  // and the dialog's making then counts in it.
  m_bListLoaded = !m_bLoadAtStart;
  if (m_bLoadAtStart) SetTimer(CHANNEL_LIST_TIMER_STARTUP, 100, nullptr);
  // An update task refreshes as soon as the list is loaded: the transfer
  // library, which its first download would otherwise load, is loaded
  // meanwhile on a thread of its own. A start by a person loads it only
  // when a download asks for it.
  CRefreshApp* app = GetRefreshApp();
  if (m_bLoadAtStart && app && app->m_bUpdateTask) std::thread(qk::net::PreloadTransferLibrary).detach();
  InitScreenDpi(0);
  if (!m_dialog.Create(this)) return -1;
  m_dialog.ShowWindow(SW_SHOW);
  ShowWindow(SW_SHOW);
  WriteLog(u"Create QLR's main window.");
  return 0;
}

void CChannelListWnd::OnSize(UINT, int, int) {
  Default();
  if (!m_dialog.GetSafeHwnd()) return;
  CRect frame(0, 0, 0, 0);
  if (CWnd* parent = GetParent()) parent->GetWindowRect(&frame);
  int height = ::GetSystemMetrics(SM_CYSCREEN) - frame.top;
  // On a key device the frame ends above the menu bar: the dialog ends
  // there too, so that it never paints over the bar.
  if (!GetTouchFlag()) {
    CRect client;
    GetClientRect(&client);
    height = client.Height();
  }
  m_dialog.SetWindowPos(nullptr, 0, 0, ::GetSystemMetrics(SM_CXSCREEN), height, SWP_NOZORDER | SWP_SHOWWINDOW);
}

void CChannelListWnd::OnPaint() {
  PAINTSTRUCT ps;
  ::BeginPaint(m_hWnd, &ps);
  ::EndPaint(m_hWnd, &ps);
}

void CChannelListWnd::SetDefaultCategory(LPCWSTR category) {
  WriteSettingString(u"Settings", u"DefaultCategory", category ? category : u"");
  m_strCategory = category ? category : u"";
}

void CChannelListWnd::RefreshList() {
  if (m_dialog.GetSafeHwnd()) m_dialog.Refresh();
  SetTimer(CHANNEL_LIST_TIMER_RELOAD, 5, nullptr);
}

BOOL CChannelListWnd::StopDownloadThread() {
  WriteLog(u"Download thread will be terminated, waiting...");
  SetDownloadStop(TRUE);
  return TRUE;
}

BOOL CChannelListWnd::GetDownloadStopFlag() { return IsDownloadStopped(); }

BOOL CChannelListWnd::IsRefreshWorking() const {
  CRefreshApp* app = GetRefreshApp();
  // The run's thread first: it starts the manager's worker before it ends.
  return m_run.IsAlive() || (app && app->DownloadManager().IsWorkerRunning());
}

void CChannelListWnd::StopRefresh() {
  // The flag first: from now on the run and the jobs start no transfer, so
  // the stop of the transfers below meets every one that can still come.
  StopDownloadThread();
  if (IsRefreshWorking()) StopRefreshTransfers(&m_dialog);
}

BOOL CChannelListWnd::StopRefreshAndWait(DWORD timeoutMs) {
  if (!IsRefreshWorking()) return TRUE;
  CRefreshApp* app = GetRefreshApp();
  StopRefresh();
  // The waiting jobs would only return at once.
  if (app) app->DownloadManager().Clear();
  // A transfer or a fetch program that started just as the stop came is
  // stopped again while the threads are waited for.
  return WaitHandlingSentMessages([this] { return !IsRefreshWorking(); }, timeoutMs,
                                  [this] { StopRefreshTransfers(&m_dialog); });
}

void CChannelListWnd::OnDestroy() {
  // The run works on the dialog, its list and its channel-list document,
  // which go with this window: a refresh still running is stopped and
  // waited for first. A thread that cannot be stopped cannot be left to
  // work on what is freed: the program then ends at once.
  if (!StopRefreshAndWait(REFRESH_STOP_WAIT_MS)) {
    WriteLog(u"The refresh did not end; the program ends without it.");
    ::ExitProcess(0);
  }
  KillTimer(CHANNEL_LIST_TIMER_STOP);
  Default();
}

BOOL CChannelListWnd::IsSubscribed(LPCWSTR url) {
  return url && m_subscribed.Find(CString(InternetAddressKey(url).c_str())) != nullptr;
}

void CChannelListWnd::SetRefreshSoftKey(BOOL running) {
  m_bRunActive = running;
  if (CWnd* frame = GetParent()) {
    if (HWND bar = SHFindMenuBar(frame->GetSafeHwnd())) {
      SetSoftKeyText(bar, ID_REFRESH_CHANNELS, running ? u"Cancel" : u"Refresh");
      ::DrawMenuBar(bar);
    }
  }
  if (m_dialog.GetSafeHwnd()) m_dialog.SetDownloadMode(running);
  if (!running) {
    if (CRefreshApp* app = GetRefreshApp()) {
      app->DownloadManager().m_hNotify = m_hWnd;
      app->DownloadManager().Clear();
    }
  }
}

// ---------------------------------------------------------------- loading

void CChannelListWnd::StartupLoad() {
  CString path = ChannelListFile();
  // The reload's wait starts first: nothing below lets it come sooner.
  const BOOL listed = m_dialog.GetSafeHwnd() && FileAccess(path);
  if (listed) SetTimer(CHANNEL_LIST_TIMER_RELOAD, 5, nullptr);
  // A refresh that runs already keeps its state (and its queued jobs).
  if (!m_bRunActive) SetRefreshSoftKey(FALSE);
  if (!m_dialog.GetSafeHwnd()) return;
  if (!m_dialog.m_pOpml) {
    m_subscribed.RemoveAll();
    m_dialog.m_pOpml = new COpmlXML(OnChannelOutline, this, 1);
    m_dialog.m_pOpml->SetPath(path, 1);
  }
  if (listed) {
    m_dialog.Refresh();
    return;
  }
  // First start: an empty list, then the welcome page and the wizard.
  if (CChannelListView* view = m_dialog.m_pChannelList) {
    view->SetShowEmptyText(TRUE);
    view->Redraw(TRUE);
  }
  m_bListLoaded = TRUE;
  ::SetCursor(::LoadCursor(nullptr, IDC_ARROW));
  if (m_bRefreshAfterLoad) {
    m_bRefreshAfterLoad = FALSE;
    if (!m_bRunActive) OnRefresh();
  }
  // An update task never waits for a person. One that got this far
  // synchronises (without synchronisation it ended at its start): its
  // refresh brings the account's channels, and it ends when that is done.
  CRefreshApp* app = GetRefreshApp();
  if (app && app->m_bUpdateTask) {
    if (!m_bRunActive) OnRefresh();
    return;
  }
  if (CWnd* frame = GetParent()) ::SetForegroundWindow(frame->GetSafeHwnd());
  if (ReadSettingInt(u"Ventrel", u"Sync", 0)) return;
  BOOL confirmed = s_pfnWelcomePage ? s_pfnWelcomePage(this) : TRUE;
  // The welcome page may end with the program (Exit while it showed).
  if (!::IsWindow(m_hWnd) || !m_dialog.m_pOpml) return;
  if (!confirmed) return;
  {
    std::lock_guard<std::recursive_mutex> hold(m_dialog.m_pOpml->Lock());
    m_dialog.m_pOpml->CreateEmpty();
    m_dialog.m_pOpml->SaveDocument();
  }
  OnNewChannel();
}

void CChannelListWnd::Reload() {
  if (!m_dialog.GetSafeHwnd()) return;
  ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
  m_dialog.ReloadRows();
  m_bListLoaded = TRUE;
  ::SetCursor(::LoadCursor(nullptr, IDC_ARROW));
  if (CReaderApp* app = GetReaderApp()) {
    app->m_nPendingChannel = -1;
  }
  CRefreshApp* app = GetRefreshApp();
  const BOOL wanted = m_bRefreshAfterLoad || (app && app->m_bUpdateTask);
  m_bRefreshAfterLoad = FALSE;
  // A reload while a refresh runs never cancels it.
  if (wanted && !m_bRunActive) OnRefresh();
}

void CChannelListWnd::OnChannelOutline(void* context, LPCWSTR category, LPCWSTR name, LPCWSTR value) {
  auto* self = static_cast<CChannelListWnd*>(context);
  if (!self) return;
  CChannelListDlg& dialog = self->m_dialog;
  if (!dialog.GetSafeHwnd()) return;
  Outline& o = self->m_outline;
  CString key(name ? name : u"");
  CString val(value ? value : u"");
  CString parent(category ? category : u"");

  if (key.IsEmpty() && val.IsEmpty()) {
    CChannelListView* view = dialog.m_pChannelList;
    if (view && o.channel >= 0) {
      const int row =
          o.labelMatch ? view->AddItem(o.channel, o.title, o.updateTime, o.url, parent, o.itemCount, o.newCount) : -1;
      CSingleLock hold(&dialog.m_runLock, TRUE);
      if (parent.CompareNoCase(SYNC_CATEGORY) == 0) dialog.m_reloadUrls.AddTail(o.url);
      // A channel that the running refresh has still to fetch shows as
      // waiting again. Its row is the one just made: neither a walk of the
      // rows nor a look-up by URL (whose index every new row renews) is
      // made for each channel of the list.
      if (row >= 0 && dialog.m_toFetch.Contains(o.url)) view->SetItemState(row, 2);
    }
    o = Outline();
    return;
  }

  if (!parent.IsEmpty() && !key.IsEmpty()) {
    CString filter = self->m_strCategory, labelFilter;
    const CString syncPrefix = CString(SYNC_CATEGORY) + u" - ";
    if (filter.Left(syncPrefix.GetLength()) == syncPrefix) {
      labelFilter = filter.Mid(syncPrefix.GetLength());
      filter = SYNC_CATEGORY;
    }
    // Kept by comparison key: a feed spelt otherwise is subscribed too.
    if (key.CompareNoCase(u"xmlUrl") == 0) self->m_subscribed.AddTail(CString(InternetAddressKey(val.str()).c_str()));
    if (key.CompareNoCase(u"label") == 0) {
      o.labelMatch = labelFilter.IsEmpty();
      int at = 0;
      while (at <= val.GetLength()) {
        int end = val.Find(u';', at);
        if (end < 0) end = val.GetLength();
        CString label = val.Mid(at, end - at);
        at = end + 1;
        if (!labelFilter.IsEmpty() && label == labelFilter) o.labelMatch = TRUE;
        if (label.IsEmpty()) continue;
        CSingleLock hold(&dialog.m_runLock, TRUE);
        if (!dialog.m_reloadTitles.Find(label)) {
          dialog.m_reloadTitles.AddTail(label);
          dialog.m_reloadCategories.AddTail(syncPrefix + label);
        }
      }
    }
    bool shown = filter.IsEmpty() || filter == u"N/A" || parent == filter;
    if (!shown) {
      CString localParent = Localized(parent), localFilter = Localized(filter);
      shown = localParent == filter || parent == localFilter || localParent == localFilter;
    }
    if (!shown) return;
    if (key.CompareNoCase(u"text") == 0) {
      o.title = val;
      o.title.Trim();
    } else if (key.CompareNoCase(u"xmlUrl") == 0) {
      o.url = val;
    } else if (key.CompareNoCase(u"uniqueID") == 0) {
      o.channel = LeadingNumber(val);
    } else if (key.CompareNoCase(u"itemCount") == 0) {
      o.itemCount = LeadingNumber(val);
    } else if (key.CompareNoCase(u"newItemCount") == 0) {
      o.newCount = LeadingNumber(val);
    } else if (key.CompareNoCase(u"lastUpdateTime") == 0) {
      o.updateTime = val;
    }
    return;
  }
  if (parent.IsEmpty() && key.CompareNoCase(u"text") == 0) {
    CSingleLock hold(&dialog.m_runLock, TRUE);
    dialog.m_reloadCategories.AddTail(val);
  }
}

// ---------------------------------------------------------------- timers

void CChannelListWnd::OnTimer(UINT_PTR id) {
  switch (id) {
    case CHANNEL_LIST_TIMER_STARTUP:
      KillTimer(CHANNEL_LIST_TIMER_STARTUP);
      StartupLoad();
      return;
    case CHANNEL_LIST_TIMER_RELOAD:
      KillTimer(CHANNEL_LIST_TIMER_RELOAD);
      Reload();
      Default();
      return;
    case CHANNEL_LIST_TIMER_STOP:
      if (IsRefreshWorking() && IsDownloadStopped()) StopRefreshTransfers(&m_dialog);
      else KillTimer(CHANNEL_LIST_TIMER_STOP);
      return;
    case REFRESH_TIMER_ID: {
      CRefreshApp* app = GetRefreshApp();
      if (app) app->DownloadManager().m_hNotify = m_hWnd;
      // The refresh is over once the run's thread has ended and the manager
      // has run its last job to its end.
      if (m_run.IsAlive() || (app && !app->DownloadManager().IsIdle())) {
        Default();
        return;
      }
      SetDownloadStop(FALSE);
      HWND main = app ? app->GetMainWindowHandle() : nullptr;
      if (main) ::SendMessageW(main, WM_CHANNELS_DOWNLOAD_END, 0, 0);
      else OnDownloadEnd();
      KillTimer(REFRESH_TIMER_ID);
      BroadcastRefreshMessage(MSG_DOWNLOAD_FINISHED);
      Default();
      return;
    }
    default:
      Default();
      return;
  }
}

// ---------------------------------------------------------------- refresh

void CChannelListWnd::StartRun() {
  if (m_bRunActive) return;
  // The thread of the run before ends right after it set its end-of-run
  // timer; a second run never starts beside it.
  if (m_run.IsAlive()) WaitHandlingSentMessages([this] { return !m_run.IsAlive(); }, 5000);
  if (m_run.IsAlive()) return;
  ClearUrlDownloadAbort();
  SetRefreshSoftKey(TRUE);
  if (!m_run.Start(&m_dialog)) SetRefreshSoftKey(FALSE);
}

void CChannelListWnd::CancelRun() {
  StopRefresh();
  // A transfer or a fetch program that started just as the stop came is
  // stopped again until the run and the jobs have ended.
  SetTimer(CHANNEL_LIST_TIMER_STOP, 250, nullptr);
}

void CChannelListWnd::OnRefresh() {
  m_bStartPending = FALSE;
  if (m_bRunActive) {
    CancelRun();
    return;
  }
  if (!m_bListLoaded) {
    // Before the channel list is read a run would find no channel: the
    // refresh starts when the list has been loaded.
    m_bRefreshAfterLoad = TRUE;
    return;
  }
  BOOL proxy = ReadSettingInt(u"Settings", u"UseNetAgency", 0);
  if (CanConnectQuickly(proxy)) {
    StartRun();
  } else if (ConnectForUrl(m_dialog.GetSafeHwnd() ? m_dialog.GetSafeHwnd() : m_hWnd, proxy)) {
    m_bStartPending = TRUE;
  }
}

void CChannelListWnd::OnDownloadEnd() {
  // Only the end of the run that ended: while its thread lives the refresh
  // goes on.
  if (m_run.IsAlive()) return;
  SetRefreshSoftKey(FALSE);
}

void CChannelListWnd::OnRefreshChannel() {
  CChannelListView* view = m_dialog.m_pChannelList;
  if (!m_dialog.GetSafeHwnd() || !view) return;
  if (m_bRunActive) return;
  m_dialog.m_nSingleChannel = view->GetFocusedItem();
  SendMessage(WM_COMMAND, ID_REFRESH_CHANNELS, 0);
}

// ---------------------------------------------------------------- commands

void CChannelListWnd::OnNewChannel() {
  BOOL added = FALSE;
  {
    CNewWizardDlg wizard(m_dialog.m_pOpml, this);
    wizard.DoModal();
    added = wizard.m_bChannelsAdded;
  }
  // The wizard may end with the program (Exit while it showed).
  if (added && ::IsWindow(m_hWnd)) RefreshList();
}

void CChannelListWnd::OnOptionPage() {
  const MSG* current = GetCurrentMessage();
  const UINT id = current ? LOWORD(current->wParam) : 0;
  // The pages' result is not used: each writes its settings itself on OK.
  switch (id) {
    case ID_OPTIONS_GENERAL: {
      COptionDownloadDlg page(this);
      page.DoModal();
      break;
    }
    case ID_OPTIONS_NETWORK: {
      COptionNetworkDlg page(this);
      page.DoModal();
      break;
    }
    case ID_OPTIONS_STORAGE: {
      // The open channel list moves with the data; no move while a refresh runs.
      COptionStorageDlg page(nullptr, m_dialog.m_pOpml);
      page.m_isRefreshRunning = [this] { return m_bRunActive.load(); };
      page.DoModal();
      break;
    }
    case ID_OPTIONS_AUTO_UPDATE: {
      COptionAutoUpdateDlg page(nullptr);
      page.DoModal();
      break;
    }
    default:
      break;
  }
}

void CChannelListWnd::OnChooseCategory() {
  if (m_dialog.GetSafeHwnd()) m_dialog.SetTimer(CHANNEL_DLG_TIMER_CHOOSER, 5, nullptr);
}

void CChannelListWnd::OnLanguage() {
  {
    CChannelListMenuDlg menu(this, CHANNEL_MENU_PAGE_LANGUAGE);
    menu.DoModal();
  }
  // The program may have ended while the page showed.
  if (!::IsWindow(m_hWnd)) return;
  // The soft keys and the header in the language chosen.
  if (auto* frame = dynamic_cast<CMainFrame*>(GetParent())) frame->CreateMenuBar();
  if (m_dialog.GetSafeHwnd()) m_dialog.Refresh();
}

void CChannelListWnd::OnUpdateRowCommand(CCmdUI* cmdUI) {
  CChannelListView* view = m_dialog.m_pChannelList;
  if (!view) return;
  cmdUI->Enable(view->GetFocusedItem() >= 0 && !m_bRunActive);
}

void CChannelListWnd::OnUpdateListCommand(CCmdUI* cmdUI) {
  CChannelListView* view = m_dialog.m_pChannelList;
  if (!view) return;
  cmdUI->Enable(view->GetItemCount() > 0 && !m_bRunActive);
}

void CChannelListWnd::OnChannelHandover(int channel) {
  CReaderApp* app = GetReaderApp();
  if (app) {
    app->m_nPendingChannel = channel;
    app->m_strPendingChannelText.Empty();
  }
  CString path;
  path.Format(u"%s\\Ch%03d.bi~", ChannelDataFolder().GetString(), channel);
  if (FILE* file = _wfopen(path, u"rt")) {
    char line[1023] = {0};
    if (fgets(line, sizeof line, file)) {
      size_t n = strlen(line);
      if (n && line[n - 1] == '\n') line[n - 1] = 0;
      if (app) app->m_strPendingChannelText = CString(CStringA(line).GetString());
    }
    fclose(file);
    ::DeleteFileW(path);
  }
  RefreshList();
}

// ---------------------------------------------------------------- messages

LRESULT CChannelListWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  CChannelListView* view = m_dialog.GetSafeHwnd() ? m_dialog.m_pChannelList : nullptr;
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP: {
      if (!view) break;
      const int x = short(LOWORD(lParam)), y = short(HIWORD(lParam));
      if (message == WM_LBUTTONDOWN) {
        CRect client;
        GetClientRect(&client);
        // The bottom band belongs to the dialog's button bar, which only a
        // touch screen has.
        if (m_dialog.HasButtonBar() && y > client.bottom - ScaleY(40)) {
          m_bPressSwallowed = TRUE;
          return -1;
        }
        return view->OnPointerDown(m_dialog.GetSafeHwnd(), x, y);
      }
      if (message == WM_MOUSEMOVE) {
        if (m_bPressSwallowed) return -1;
        return view->OnPointerMove(m_dialog.GetSafeHwnd(), x, y);
      }
      if (m_bPressSwallowed) {
        m_bPressSwallowed = FALSE;
        return 1;
      }
      return view->OnPointerUp(m_dialog.GetSafeHwnd(), x, y);
    }
    case WM_KEYDOWN:
      if (view && view->GetItemCount() > 0) {
        if (wParam == VK_RETURN) view->OpenFocusedItem();
        else if (wParam == VK_UP) view->FocusPrevious();
        else if (wParam == VK_DOWN) view->FocusNext();
      }
      break;
    case WM_CHANNELS_DOWNLOAD_PROGRESS: {
      KeepAwake();
      // A message with nothing to measure against leaves the band as it is.
      CRefreshState& state = RefreshState();
      long long total = (static_cast<long long>(state.queuedChannels) + static_cast<long long>(lParam)) * 3 +
                        state.imageTotal;
      if (total <= 0) break;
      int remaining = RefreshProgressPercent(wParam, lParam);
      m_dialog.m_nProgress = remaining;
      if (m_dialog.GetSafeHwnd()) m_dialog.DrawProgressBand(remaining);
      break;
    }
    case WM_CHANNELS_DOWNLOAD_START:
      if (!m_bRunActive) OnRefresh();
      break;
    case WM_CHANNELS_DOWNLOAD_END:
      OnDownloadEnd();
      break;
    case WM_CHANNEL_COUNTS_CHANGED: {
      if (!view || !m_dialog.m_pOpml) break;
      int items = int(lParam & 0xFFFF), fresh = int((lParam >> 16) & 0xFFFF);
      int row = view->SetItemCounts(int(wParam), items, fresh);
      CString url;
      if (row < 0 || !view->GetListItemTitle(row, url)) break;
      CString text;
      text.Format(u"%d", items);
      SetChannelAttributeIfChanged(m_dialog.m_pOpml, url, u"itemCount", text);
      text.Format(u"%d", fresh);
      SetChannelAttributeIfChanged(m_dialog.m_pOpml, url, u"newItemCount", text);
      break;
    }
    case WM_CONNECTION_STATUS:
      if (wParam == CONNECTION_STATUS_ESTABLISHED) {
        // Only a Refresh that waited for the connection starts a run, and
        // never a second one beside a running one.
        if (m_bStartPending && !m_bRunActive) {
          m_bStartPending = FALSE;
          StartRun();
        }
      } else if ((wParam == CONNECTION_STATUS_RELEASED || wParam == CONNECTION_STATUS_NO_FAST_PATH ||
                  wParam == CONNECTION_STATUS_PROBE_FAILED) &&
                 m_bRunActive) {
        // The lost connection stops the refresh as Cancel does.
        CancelRun();
      }
      break;
    case WM_CHANNEL_HANDOVER:
      OnChannelHandover(int(wParam));
      break;
    default:
      break;
  }
  return CWnd::DefWindowProc(message, wParam, lParam);
}
