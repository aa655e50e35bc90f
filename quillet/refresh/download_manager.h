// The queue of full-text jobs that a refresh produces, worked off one job at
// a time, oldest first, by one thread of the manager's own after the feeds
// are stored. The channel-list window polls IsIdle to learn that the
// refresh is over; the headline screens ask HasJob.
#pragma once

#include <atomic>
#include <future>
#include <list>
#include <vector>

#include "framework/afx.h"
#include "quillet/refresh/download_job.h"
#include "quillet/refresh/thread_pool.h"

class CDownloadManager {
 public:
  CDownloadManager();
  ~CDownloadManager();
  CDownloadManager(const CDownloadManager&) = delete;
  CDownloadManager& operator=(const CDownloadManager&) = delete;

  void AddJob(CString link, CString pagePath, CString templatePath, int option, int channel, JobStopCallback stop,
              HWND notify);
  // Starts the worker thread, unless one still runs: that one takes the new
  // jobs in their turn.
  void Start();
  // TRUE when no job waits and the worker has ended: the last job taken
  // has run to its end (its page recorded or dropped).
  BOOL IsIdle();
  int GetJobCount();
  BOOL HasJob(LPCWSTR link);
  // Destroys the waiting jobs (their links are no longer queued) and sets
  // the total to 0.
  void Clear();
  // Waits (at most timeoutMs) until no worker thread runs; TRUE when none does.
  BOOL WaitForWorker(DWORD timeoutMs);
  BOOL IsWorkerRunning();

  int GetTotal();
  void GetFinishedLinks(CStringList& out);
  // The pool, once its threads and events are made.
  CThreadPool& Pool();

  static DWORD ThreadProc(LPVOID manager);

  std::atomic<int> m_nUseProxy{0};
  std::atomic<HWND> m_hNotify{nullptr};

 private:
  std::list<CDownloadJob*> m_jobs;
  CCriticalSection m_lock;
  CThreadPool m_pool;
  // The pool is made on a thread of its own: nothing queues work to it, and
  // its five threads and six named events cost the program's start several
  // milliseconds on the thread that shows the first screen.
  std::shared_future<void> m_poolMade;
  CStringList m_queuedLinks;
  CStringList m_finishedLinks;
  int m_nTotal = 0;
  // One worker at a time: set by Start under the lock, cleared by the worker
  // under the lock when it finds the queue empty, after which it touches
  // nothing of the manager.
  BOOL m_bRunning = FALSE;
  // Set while no worker runs.
  HANDLE m_hWorkerDone = nullptr;
  // The workers' threads, kept until they have ended: a worker that an
  // update task's Exit was asked by goes on for a moment after it counts
  // as done, and must have ended before the program does.
  std::vector<CWinThread*> m_workers;
  // Deletes the workers whose threads have ended, waiting at most
  // timeoutMs for each.
  void ReapWorkers(DWORD timeoutMs);
};
