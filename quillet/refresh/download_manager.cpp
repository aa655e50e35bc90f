#include "quillet/refresh/download_manager.h"

#include "common/log.h"
#include "framework/thread.h"
#include "kernel/kernel.h"
#include "quillet/refresh/refresh_log.h"
#include "quillet/refresh/refresh_state.h"

CDownloadManager::CDownloadManager() : m_pool(5, FALSE) {
  m_hWorkerDone = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  m_poolMade = std::async(std::launch::async, [this] {
                 if (!m_pool.Create()) WriteLog(u"The download manager's thread pool could not be made.");
               }).share();
}

CThreadPool& CDownloadManager::Pool() {
  m_poolMade.wait();
  return m_pool;
}

CDownloadManager::~CDownloadManager() {
  // The pool is shut down (by its own end) only once it is whole.
  m_poolMade.wait();
  Clear();
  // The worker finishes the job it runs (every job polls the stop flag) and
  // must not outlive the queue it reads. The program's end stops and waits
  // for it first; a worker that still runs after that is not waited for
  // without end.
  if (!WaitForWorker(REFRESH_STOP_WAIT_MS)) {
    WriteLog(u"The download manager's worker did not end.");
    return;
  }
  ReapWorkers(5000);
  CloseHandle(m_hWorkerDone);
  CSingleLock hold(&m_lock, TRUE);
  m_queuedLinks.RemoveAll();
  m_finishedLinks.RemoveAll();
}

void CDownloadManager::AddJob(CString link, CString pagePath, CString templatePath, int option, int channel,
                              JobStopCallback stop, HWND notify) {
  auto* job = new (std::nothrow)
      CDownloadJob(link, pagePath, templatePath, option, channel, m_nUseProxy.load(), stop, notify);
  if (!job) return;
  CSingleLock hold(&m_lock, TRUE);
  m_jobs.push_back(job);
  m_queuedLinks.AddTail(link);
}

void CDownloadManager::Start() {
  CSingleLock hold(&m_lock, TRUE);
  int count = m_queuedLinks.GetCount();
  LogF(u"CDownloadManager has %d jobs.\n", count);
  m_nTotal = count;
  if (m_bRunning) return;
  ReapWorkers(0);
  m_bRunning = TRUE;
  ResetEvent(m_hWorkerDone);
  CWinThread* worker = AfxBeginThread([](LPVOID manager) -> UINT { return UINT(ThreadProc(manager)); }, this,
                                      THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
  if (!worker) {
    m_bRunning = FALSE;
    SetEvent(m_hWorkerDone);
    return;
  }
  worker->m_bAutoDelete = FALSE;
  m_workers.push_back(worker);
  worker->ResumeThread();
}

void CDownloadManager::ReapWorkers(DWORD timeoutMs) {
  for (auto it = m_workers.begin(); it != m_workers.end();) {
    if (WaitForSingleObject((*it)->m_hThread, timeoutMs) == WAIT_OBJECT_0) {
      delete *it;
      it = m_workers.erase(it);
    } else {
      ++it;
    }
  }
}

BOOL CDownloadManager::IsIdle() {
  CSingleLock hold(&m_lock, TRUE);
  return m_jobs.empty() && !m_bRunning;
}

int CDownloadManager::GetJobCount() {
  CSingleLock hold(&m_lock, TRUE);
  return m_queuedLinks.GetCount();
}

BOOL CDownloadManager::HasJob(LPCWSTR link) {
  CSingleLock hold(&m_lock, TRUE);
  return m_queuedLinks.Find(link) != nullptr;
}

int CDownloadManager::GetTotal() {
  CSingleLock hold(&m_lock, TRUE);
  return m_nTotal;
}

void CDownloadManager::GetFinishedLinks(CStringList& out) {
  CSingleLock hold(&m_lock, TRUE);
  out.RemoveAll();
  for (POSITION p = m_finishedLinks.GetHeadPosition(); p;) out.AddTail(m_finishedLinks.GetNext(p));
}

void CDownloadManager::Clear() {
  for (;;) {
    CDownloadJob* job = nullptr;
    {
      CSingleLock hold(&m_lock, TRUE);
      if (m_jobs.empty()) break;
      job = m_jobs.front();
      m_jobs.pop_front();
      // A dropped job is no longer waited for: screens that ask HasJob
      // stop showing its item as queued.
      if (job)
        if (POSITION p = m_queuedLinks.Find(job->GetLink())) m_queuedLinks.RemoveAt(p);
    }
    delete job;
  }
  CSingleLock hold(&m_lock, TRUE);
  m_nTotal = 0;
}

BOOL CDownloadManager::WaitForWorker(DWORD timeoutMs) {
  return WaitForSingleObject(m_hWorkerDone, timeoutMs) == WAIT_OBJECT_0;
}

BOOL CDownloadManager::IsWorkerRunning() {
  CSingleLock hold(&m_lock, TRUE);
  return m_bRunning;
}

DWORD CDownloadManager::ThreadProc(LPVOID param) {
  auto* manager = static_cast<CDownloadManager*>(param);
  if (!manager) return 0;
  UINT fulltextMessage = RegisterWindowMessageW(MSG_DOWNLOAD_ITEM_FULLTEXT);
  for (;;) {
    manager->m_lock.Lock();
    if (manager->m_jobs.empty()) break;
    CDownloadJob* job = manager->m_jobs.front();
    manager->m_jobs.pop_front();
    int queued = manager->m_queuedLinks.GetCount();
    int total = manager->m_nTotal;
    manager->m_lock.Unlock();
    PostMessageW(HWND_BROADCAST, WM_CHANNELS_DOWNLOAD_PROGRESS, WPARAM(queued), LPARAM(total));
    if (job) {
      WriteLog(u"job->Run()");
      job->Run();
      manager->m_lock.Lock();
      if (POSITION p = manager->m_queuedLinks.Find(job->GetLink())) {
        manager->m_finishedLinks.AddTail(job->GetLink());
        manager->m_queuedLinks.RemoveAt(p);
      }
      manager->m_lock.Unlock();
      delete job;
    }
    PostMessageW(HWND_BROADCAST, fulltextMessage, 0, 0);
  }
  // The lock is still held: a Start that comes now finds no running worker
  // and starts a new one. Nothing of the manager is touched after this.
  CRefreshApp* app = GetRefreshApp();
  BOOL updateTask = app && app->m_bUpdateTask.load();
  HWND mainWindow = updateTask ? app->GetMainWindowHandle() : nullptr;
  WriteLog(updateTask ? u"Download manager finished and exit." : u"Download manager finished and do not exit.");
  manager->m_bRunning = FALSE;
  SetEvent(manager->m_hWorkerDone);
  manager->m_lock.Unlock();
  // The Exit command waits for the worker: it is told only once the worker
  // counts as ended.
  if (updateTask) SendMessageW(mainWindow, WM_COMMAND, ID_APP_EXIT_COMMAND, 0);
  return 1;
}
