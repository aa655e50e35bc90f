#include "quillet/refresh/refresh_run.h"

#include <cstdio>

#include "common/encoding.h"
#include "common/localize.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/url_download.h"
#include "framework/thread.h"
#include "kernel/kernel.h"
#include "kernel/wstring.h"
#include "quillet/feeds/item_store.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/feeds/rss_xml.h"
#include "quillet/feeds/subscriptions_xml.h"
#include "quillet/refresh/channel_download.h"
#include "quillet/refresh/download_manager.h"
#include "quillet/ui/channel_list_view.h"
#include "ventrel/ventrel.h"

namespace {

// Whether a row of this category is refreshed: the synchronised category
// only while synchronisation is on.
bool TakesRow(CChannelListView* view, int row, bool syncOn) {
  CString category;
  GetChannelItemText(view, row, category);
  return syncOn || category != CString(SYNC_CATEGORY);
}

void ShowRunError(const CString& detail) {
  CString text = Localized(u"Error occured while downloading");
  if (detail.IsEmpty()) text += u".";
  else text += u" - " + detail.Left(1024);
  CRefreshApp* app = GetRefreshApp();
  if (app && app->m_bUpdateTask) {
    // An update task runs unattended (Monitor starts it): a box would wait
    // for a person who is not there, and the task would never end. The
    // text goes to the run log and to the standard error instead.
    WriteLog(text);
    std::fprintf(stderr, "%s\n", qk::ToUtf8(text.str()).c_str());
    return;
  }
  MessageBoxW(app ? app->GetMainWindowHandle() : nullptr, text, Localized(u"Error"), MB_OK | MB_ICONERROR);
}

// A refused sync login: the run log says so, and the person sees it as the
// error item of each synchronised channel, or, while there is none yet, in
// the run's error box.
void ReportSyncLoginFailure(CChannelListView* view) {
  WriteLog(u"Google Reader login failed: the channel list is not synchronised.");
  const CString reason = Localized(u"Google Reader login failed");
  const CString folder = ChannelDataFolder();
  bool shown = false;
  for (int i = 0, n = view->GetItemCount(); i < n; ++i) {
    CChannelListItem item;
    if (!view->GetItem(i, item) || item.m_strCategory != CString(SYNC_CATEGORY)) continue;
    CreateDirectoryW(folder, nullptr);
    CString xmlPath;
    xmlPath.Format(u"%s\\Ch%03d.xml", folder.GetString(), item.m_nChannel);
    CRssXML document(nullptr, nullptr, nullptr, 1);
    document.SetPath(xmlPath, 0);
    document.AddErrorItem(CString(u" ") + reason);
    view->ReleaseItemCache(i);
    shown = true;
  }
  if (shown) view->Redraw(TRUE);
  else ShowRunError(reason);
}

void SyncPhase(CChannelListFields* dialog, CVentrelAgency* agency) {
  CChannelListView* view = dialog->m_pChannelList;
  int log = ReadSettingInt(u"Settings", u"VentrelLog", 0);
  agency->SetProxy(ReadSettingInt(u"Settings", u"UseNetAgency", 0)
                       ? ReadSettingString(u"Settings", u"NetAgencyIP", QUILLET_DEFAULT_PROXY)
                       : CString());
  agency->EnableLog(log);
  KeepAwake();
  CString user, password;
  FormUrlEncode(user, ReadSettingString(u"Ventrel", u"Username", u""));
  FormUrlEncode(password, ReadSettingString(u"Ventrel", u"Password", u""));
  agency->Login(user, password);
  if (IsDownloadStopped()) return;
  // The login is made here, so that a refused one ends the sync step: the
  // subscription list would be asked for without a session.
  if (!agency->Authenticate()) {
    if (!IsDownloadStopped()) ReportSyncLoginFailure(view);
    return;
  }

  WCHAR programFolder[MAX_PATH];
  GetProgramFolder(programFolder);
  CString folder(programFolder);
  folder += u"\\ChannelData";
  CreateDirectoryW(folder, nullptr);
  CString path = folder + u"\\VentrelSubscriptions.xml";
  // An earlier run's list is never taken for this one's.
  DeleteFileW(path);
  agency->GetSubscriptions(path);
  if (IsDownloadStopped() || !FileAccess(path)) {
    if (!log) DeleteFileW(path);
    return;
  }
  {
    CSubscriptionsXML subscriptions(dialog, OnSubscriptionLabel);
    if (subscriptions.LoadEx(path.GetString(), 0, 1)) {
      subscriptions.ReadSubscriptions();
      CWaitCursor wait;
      view->SetBusy(TRUE);
      view->RemoveAllItems();
      if (dialog->m_pOpml) {
        {
          CSingleLock hold(&dialog->m_runLock, TRUE);
          dialog->m_reloadTitles.RemoveAll();
          dialog->m_reloadCategories.RemoveAll();
          dialog->m_reloadUrls.RemoveAll();
        }
        COpmlXML* opml = dialog->m_pOpml;
        std::lock_guard<std::recursive_mutex> hold(opml->Lock());
        CString opmlPath = opml->GetPath();
        if (!FileAccess(opmlPath) || !opml->LoadAndWalk(opmlPath)) opml->CreateEmpty();
      }
      view->SetShowEmptyText(TRUE);
      for (int i = 0, n = view->GetItemCount(); i < n; ++i) view->ReleaseItemCache(i);
      view->Redraw(TRUE);
      view->SetBusy(FALSE);
    }
  }
  if (!log) DeleteFileW(path);
}

void ResetRowAfterChannel(CChannelListFields* dialog, const CString& url) {
  CChannelListView* view = dialog->m_pChannelList;
  int row = FindChannelRow(view, url);
  if (row < 0) return;
  view->SetItemState(row, 0);
  view->ReleaseItemCache(row);
  ++RefreshState().processedChannels;
  CRefreshApp* app = GetRefreshApp();
  int jobs = app ? app->DownloadManager().GetJobCount() : 0;
  PostMessageW(HWND_BROADCAST, WM_CHANNELS_DOWNLOAD_PROGRESS, WPARAM(jobs), LPARAM(jobs));
  view->Redraw(TRUE);
}

}  // namespace

void OnSubscriptionLabel(void* context, LPCWSTR title, LPCWSTR url, LPCWSTR label) {
  auto* dialog = static_cast<CChannelListFields*>(context);
  CString wanted = ReadSettingString(u"Ventrel", u"Label", u"");
  if (!wanted.IsEmpty()) {
    // The labels come joined by ";": a subscription is taken when any of
    // its labels is named in the setting, whatever the case.
    wanted.MakeLower();
    CString labels(label);
    labels.MakeLower();
    bool taken = false;
    int at = 0;
    while (!taken && at <= labels.GetLength()) {
      int end = labels.Find(u';', at);
      if (end < 0) end = labels.GetLength();
      CString one = labels.Mid(at, end - at);
      if (!one.IsEmpty() && wanted.Find(one) >= 0) taken = true;
      at = end + 1;
    }
    if (!taken) return;
  }
  if (!dialog || !dialog->m_pOpml) return;
  COpmlXML* opml = dialog->m_pOpml;
  {
    std::lock_guard<std::recursive_mutex> hold(opml->Lock());
    if (opml->HasChannel(url)) opml->SetChannelAttribute(url, u"text", title);
    else opml->AddChannel(SYNC_CATEGORY, title, url);
    opml->SetChannelAttribute(url, u"label", label);
  }
  CSingleLock hold(&dialog->m_runLock, TRUE);
  if (POSITION p = dialog->m_reloadUrls.Find(url)) dialog->m_reloadUrls.RemoveAt(p);
}

DWORD DownloadThreadProc(LPVOID param) {
  SetLogEnabled(ReadSettingInt(u"Settings", u"VentrelLog", 0));
  auto* dialog = static_cast<CChannelListFields*>(param);
  if (!dialog || !dialog->m_pChannelList) return 1;
  CChannelListView* view = dialog->m_pChannelList;
  CRefreshState& state = RefreshState();
  dialog->m_bHeadlinePhase = TRUE;
  state.queuedChannels = 0;
  state.processedChannels = 0;
  state.imageTotal = 0;
  state.processedImages = 0;
  CVentrelAgency* agency = dialog->EnsureAgency();
  BroadcastRefreshMessage(MSG_DOWNLOAD_START);

  const bool syncOn = ReadSettingInt(u"Ventrel", u"Sync", 0) != 0;
  const int single = dialog->m_nSingleChannel;
  try {
    if (syncOn && single < 0 && agency) SyncPhase(dialog, agency);
    WriteSettingString(u"Settings", u"LastUpdateTime", LocalTimeText());

    // A single-channel index that names no row ends the run through its
    // normal end, so the screens leave the refreshing state.
    bool validSingle = single < 0 || single < view->GetItemCount();
    if (single < 0) {
      for (int i = 0, n = view->GetItemCount(); i < n; ++i) {
        if (!TakesRow(view, i, syncOn)) continue;
        view->SetItemState(i, 2);
        ++state.queuedChannels;
      }
      view->Redraw(TRUE);
    } else if (validSingle) {
      view->SetItemState(single, 2);
      state.queuedChannels = 1;
      view->Redraw(TRUE);
    }

    {
      CSingleLock hold(&dialog->m_runLock, TRUE);
      dialog->m_toFetch.RemoveAll();
    }
    if (validSingle) {
      int first = single < 0 ? 0 : single;
      int last = single < 0 ? view->GetItemCount() : single + 1;
      for (int i = first; i < last && !IsDownloadStopped(); ++i) {
        if (!TakesRow(view, i, syncOn)) continue;
        CString url;
        if (!view->GetListItemTitle(i, url)) continue;
        CSingleLock hold(&dialog->m_runLock, TRUE);
        dialog->m_toFetch.AddTail(url);
      }
    }

    for (;;) {
      CString url;
      {
        CSingleLock hold(&dialog->m_runLock, TRUE);
        if (dialog->m_toFetch.IsEmpty()) break;
        url = dialog->m_toFetch.GetHead();
      }
      KeepAwake();
      if (!IsDownloadStopped()) {
        WriteLog(url);
        DoRssChannelDownload(dialog, url);
        WriteLog(u"Refresh progress bar.");
      } else {
        WriteLog(u"Cancel downloading, only redraw the icons.");
      }
      ResetRowAfterChannel(dialog, url);
      CSingleLock hold(&dialog->m_runLock, TRUE);
      dialog->m_toFetch.RemoveHead();
    }
  } catch (CException* e) {
    WCHAR message[1025] = {0};
    BOOL has = e->GetErrorMessage(message, 1025);
    e->Delete();
    ShowRunError(has ? CString(message) : CString());
  } catch (const std::exception& e) {
    ShowRunError(CString(e.what()));
  }

  // End of the feed phase.
  for (int i = 0, n = view->GetItemCount(); i < n; ++i) {
    CChannelListItem item;
    if (view->GetItem(i, item) && item.m_nState != 0) view->SetItemState(i, 0);
  }
  {
    CSingleLock hold(&dialog->m_runLock, TRUE);
    dialog->m_toFetch.RemoveAll();
  }
  // The update times and counts that the channels held back are saved
  // before anyone hears that the feeds are stored.
  if (dialog->m_pOpml) dialog->m_pOpml->SavePending();
  state.processedChannels = state.queuedChannels.load();
  view->Redraw(TRUE);
  dialog->m_bHeadlinePhase = FALSE;
  BroadcastRefreshMessage(MSG_DOWNLOAD_HEADLINES_FINISHED);

  // The run has taken its single-channel choice; it is cleared before the
  // manager starts, because in an update task the manager may end the
  // program as soon as it finds nothing to do.
  dialog->m_nSingleChannel = -1;
  HWND listWindow = GetParent(dialog->GetDialogWindow());
  if (CRefreshApp* app = GetRefreshApp()) {
    app->DownloadManager().m_hNotify = listWindow;
    app->DownloadManager().m_nUseProxy = ReadSettingInt(u"Settings", u"UseNetAgency", 0);
    app->DownloadManager().Start();
  }
  if (listWindow) SetTimer(listWindow, REFRESH_TIMER_ID, REFRESH_TIMER_MS, nullptr);
  WriteLog(u"Download thread terminated !");
  return 0;
}

CRefreshRunThread::~CRefreshRunThread() {
  // A thread that still runs keeps its object (the program is ending).
  if (!IsAlive()) delete m_pThread;
}

BOOL CRefreshRunThread::Start(CChannelListFields* dialog) {
  if (IsAlive()) return FALSE;
  delete m_pThread;
  m_pThread = nullptr;
  // Started suspended, so that the object outlives the thread and its
  // handle tells when the thread has ended.
  CWinThread* thread = AfxBeginThread([](LPVOID param) -> UINT { return UINT(DownloadThreadProc(param)); }, dialog,
                                      THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
  if (!thread) return FALSE;
  thread->m_bAutoDelete = FALSE;
  m_pThread = thread;
  thread->ResumeThread();
  return TRUE;
}

BOOL CRefreshRunThread::IsAlive() const {
  return m_pThread && m_pThread->m_hThread && WaitForSingleObject(m_pThread->m_hThread, 0) == WAIT_TIMEOUT;
}

void StopRefreshTransfers(CChannelListFields* dialog) {
  if (dialog) dialog->TerminateAgency();
  CRefreshApp* app = GetRefreshApp();
  const BOOL jobRuns = app && app->DownloadManager().IsWorkerRunning();
  // The fetch program stops on the broadcast; without an open transfer of
  // our own it is the stop signal's broadcast.
  if (!AbortUrlDownload() || jobRuns) PostMessageW(HWND_BROADCAST, WM_URL_DOWNLOAD_END, 0, 0);
}
