// A small pool of worker threads, each waiting on its own named wake event
// ("Thread%d") and on the shared shutdown event ("PoolEventShutdown"). The
// download manager owns one of five threads; nothing queues work to it, so
// its threads wait from start-up to exit.
#pragma once

#include <list>
#include <map>

#include "framework/afx.h"

// A unit of work given as an object: two work steps, whether the pool
// deletes it afterwards, and its deletion.
class CPoolRunObject {
 public:
  virtual void Prepare() = 0;
  virtual void Work() = 0;
  virtual BOOL AutoDelete() = 0;
  virtual ~CPoolRunObject() = default;
};

typedef void (*PoolJobFunction)(void* argument);

class CThreadPool {
 public:
  // With createNow, a failing Create throws the int 1.
  CThreadPool(int threadCount, BOOL createNow);
  virtual ~CThreadPool();
  CThreadPool(const CThreadPool&) = delete;
  CThreadPool& operator=(const CThreadPool&) = delete;

  BOOL Create();
  void Shutdown();
  static DWORD WorkerProc(LPVOID pool);

  BOOL PopJob(PoolJobFunction* function, void** argument, CPoolRunObject** runObject);
  HANDLE GetThreadEvent(DWORD threadId);
  void SetThreadBusy(DWORD threadId);
  void SetThreadFree(DWORD threadId);

  int GetThreadCount();
  HANDLE GetShutdownEvent() const { return m_hShutdown; }

 private:
  struct Job {
    PoolJobFunction function;
    void* value;
  };
  struct ThreadRecord {
    BOOL free;
    HANDLE wakeEvent;
    HANDLE thread;
    DWORD id;
  };
  std::list<Job> m_jobs;
  std::map<DWORD, ThreadRecord> m_threads;
  int m_nThreads;
  HANDLE m_hShutdown = nullptr;
  CRITICAL_SECTION m_lock;
  bool m_bLockReady = false;
};
