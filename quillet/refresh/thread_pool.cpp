#include "quillet/refresh/thread_pool.h"

#include <vector>

#include "kernel/kernel.h"
#include "quillet/refresh/refresh_log.h"

CThreadPool::CThreadPool(int threadCount, BOOL createNow) : m_nThreads(threadCount) {
  if (createNow && !Create()) throw 1;
}

CThreadPool::~CThreadPool() { Shutdown(); }

BOOL CThreadPool::Create() {
  if (!m_bLockReady) {
    InitializeCriticalSection(&m_lock);
    m_bLockReady = true;
  }
  m_hShutdown = CreateEventW(nullptr, TRUE, FALSE, u"PoolEventShutdown");
  if (!m_hShutdown) return FALSE;
  for (int i = 0; i < m_nThreads; ++i) {
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, WorkerProc, this, CREATE_SUSPENDED, &id);
    if (!thread) return FALSE;
    CString name;
    name.Format(u"Thread%d", i);
    HANDLE wake = CreateEventW(nullptr, TRUE, FALSE, name);
    EnterCriticalSection(&m_lock);
    m_threads[id] = ThreadRecord{TRUE, wake, thread, id};
    LeaveCriticalSection(&m_lock);
    ResumeThread(thread);
    LogF(u"Thread created, handle = %08x, id = %08x\n", unsigned(reinterpret_cast<uintptr_t>(thread)), id);
  }
  return TRUE;
}

DWORD CThreadPool::WorkerProc(LPVOID param) {
  auto* pool = static_cast<CThreadPool*>(param);
  if (!pool) return DWORD(-1);
  DWORD self = GetCurrentThreadId();
  for (;;) {
    HANDLE waits[2] = {pool->GetThreadEvent(self), pool->m_hShutdown};
    DWORD which = waits[0] ? WaitForMultipleObjects(2, waits, FALSE, INFINITE)
                           : WaitForSingleObject(pool->m_hShutdown, INFINITE) + 1;
    if (which != WAIT_OBJECT_0) return 0;
    PoolJobFunction function = nullptr;
    void* argument = nullptr;
    CPoolRunObject* object = nullptr;
    if (pool->PopJob(&function, &argument, &object)) {
      pool->SetThreadBusy(self);
      if (function) {
        function(argument);
      } else if (object) {
        BOOL remove = object->AutoDelete();
        object->Prepare();
        object->Work();
        unsigned handle = unsigned(reinterpret_cast<uintptr_t>(GetCurrentThread()));
        if (remove) {
          LogF(u"Deleting Run Object of thread , handle = %08x, id = %08x\n", handle, self);
          delete object;
        } else {
          LogF(u"Not Deleted Run Object of thread , handle = %08x, id = %08x\n", handle, self);
        }
      }
    }
    pool->SetThreadFree(self);
  }
}

BOOL CThreadPool::PopJob(PoolJobFunction* function, void** argument, CPoolRunObject** runObject) {
  EnterCriticalSection(&m_lock);
  if (m_jobs.empty()) {
    LeaveCriticalSection(&m_lock);
    return FALSE;
  }
  Job job = m_jobs.front();
  m_jobs.pop_front();
  LeaveCriticalSection(&m_lock);
  *function = job.function;
  if (job.function) *argument = job.value;
  else *runObject = static_cast<CPoolRunObject*>(job.value);
  return TRUE;
}

HANDLE CThreadPool::GetThreadEvent(DWORD threadId) {
  EnterCriticalSection(&m_lock);
  auto found = m_threads.find(threadId);
  HANDLE event = found == m_threads.end() ? nullptr : found->second.wakeEvent;
  LeaveCriticalSection(&m_lock);
  return event;
}

void CThreadPool::SetThreadBusy(DWORD threadId) {
  EnterCriticalSection(&m_lock);
  auto found = m_threads.find(threadId);
  if (found != m_threads.end()) {
    found->second.free = FALSE;
    LogF(u"Thread busy, thread id = 0x%08x\n", threadId);
  }
  LeaveCriticalSection(&m_lock);
}

void CThreadPool::SetThreadFree(DWORD threadId) {
  EnterCriticalSection(&m_lock);
  auto found = m_threads.find(threadId);
  if (found == m_threads.end()) {
    LeaveCriticalSection(&m_lock);
    return;
  }
  found->second.free = TRUE;
  LogF(u"Thread free, thread id = 0x%08x\n", threadId);
  HANDLE event = m_jobs.empty() ? found->second.wakeEvent : nullptr;
  LeaveCriticalSection(&m_lock);
  if (event) ResetEvent(event);
}

int CThreadPool::GetThreadCount() {
  if (!m_bLockReady) return 0;
  EnterCriticalSection(&m_lock);
  int count = int(m_threads.size());
  LeaveCriticalSection(&m_lock);
  return count;
}

void CThreadPool::Shutdown() {
  if (!m_bLockReady) return;
  if (m_hShutdown) SetEvent(m_hShutdown);
  // The workers end on the shutdown event; they are given one second.
  std::vector<HANDLE> threads;
  EnterCriticalSection(&m_lock);
  for (auto& entry : m_threads) threads.push_back(entry.second.thread);
  LeaveCriticalSection(&m_lock);
  DWORD start = GetTickCount();
  for (HANDLE thread : threads) {
    DWORD spent = GetTickCount() - start;
    WaitForSingleObject(thread, spent >= 1000 ? 0 : 1000 - spent);
  }
  EnterCriticalSection(&m_lock);
  for (auto& entry : m_threads) {
    if (entry.second.wakeEvent) CloseHandle(entry.second.wakeEvent);
    CloseHandle(entry.second.thread);
  }
  m_threads.clear();
  m_jobs.clear();
  LeaveCriticalSection(&m_lock);
  if (m_hShutdown) CloseHandle(m_hShutdown);
  m_hShutdown = nullptr;
  DeleteCriticalSection(&m_lock);
  m_bLockReady = false;
}
