// Threads: real host threads behind thread handles, with exit codes,
// suspended starts and waits on their end.
#include <condition_variable>
#include <memory>
#include <thread>

#include "kernel/sync.h"
#include "kernel/waitable.h"

namespace qk {
namespace {

class ThreadObject : public Waitable {
 public:
  bool Ready(DWORD) override { return ended; }
  bool Acquire(DWORD) override { return ended; }

  // Guarded by WaitLock().
  bool ended = false;
  bool suspended = false;
  DWORD exitCode = STILL_ACTIVE;
  DWORD id = 0;
  int priority = THREAD_PRIORITY_NORMAL;
};

// The thread object of the running thread, when the layer started it.
thread_local std::shared_ptr<ThreadObject> t_self;

// Thrown by ExitThread and caught where the thread started.
struct ThreadExit {
  DWORD code;
};

std::condition_variable g_resumeCv;

void Finish(const std::shared_ptr<ThreadObject>& self, DWORD code) {
  {
    std::lock_guard<std::mutex> lock(WaitLock());
    self->exitCode = code;
    self->ended = true;
  }
  NotifyWaiters();
}

}  // namespace

std::shared_ptr<Waitable> CurrentThreadObject() { return t_self; }

}  // namespace qk

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID param, DWORD flags,
                    LPDWORD threadId) {
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto self = std::make_shared<qk::ThreadObject>();
  self->suspended = (flags & CREATE_SUSPENDED) != 0;
  self->id = qk::NewThreadId();
  HANDLE handle = qk::RegisterHandle(self);
  std::thread([self, start, param] {
    qk::SetCurrentThreadId(self->id);
    {
      std::unique_lock<std::mutex> lock(qk::WaitLock());
      qk::g_resumeCv.wait(lock, [&] { return !self->suspended; });
    }
    qk::t_self = self;
    DWORD code = 0;
    try {
      code = start(param);
    } catch (const qk::ThreadExit& exit) {
      code = exit.code;
    }
    qk::Finish(self, code);
    qk::t_self.reset();
  }).detach();
  if (threadId) *threadId = self->id;
  return handle;
}

DWORD ResumeThread(HANDLE handle) {
  auto thread = qk::LookupHandleAs<qk::ThreadObject>(handle);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0xFFFFFFFFu;
  }
  DWORD previous;
  {
    std::lock_guard<std::mutex> lock(qk::WaitLock());
    previous = thread->suspended ? 1 : 0;
    thread->suspended = false;
  }
  qk::g_resumeCv.notify_all();
  return previous;
}

BOOL SetThreadPriority(HANDLE handle, int priority) {
  if (handle == GetCurrentThread()) {
    if (qk::t_self) qk::t_self->priority = priority;
    return TRUE;
  }
  auto thread = qk::LookupHandleAs<qk::ThreadObject>(handle);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Host threads run at one priority; the value is kept for the getter.
  thread->priority = priority;
  return TRUE;
}

int GetThreadPriority(HANDLE handle) {
  if (handle == GetCurrentThread()) return qk::t_self ? qk::t_self->priority : THREAD_PRIORITY_NORMAL;
  auto thread = qk::LookupHandleAs<qk::ThreadObject>(handle);
  return thread ? thread->priority : THREAD_PRIORITY_NORMAL;
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD code) {
  auto thread = qk::LookupHandleAs<qk::ThreadObject>(handle);
  if (!thread || !code) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(qk::WaitLock());
  *code = thread->exitCode;
  return TRUE;
}

// A host thread cannot be stopped from outside without corrupting the state
// it holds; the layer refuses rather than pretend.
BOOL TerminateThread(HANDLE, DWORD) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

DWORD GetCurrentThreadId() { return qk::CurrentThreadId(); }
HANDLE GetCurrentThread() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)); }

void ExitThread(DWORD code) {
  if (qk::t_self) throw qk::ThreadExit{code};
  // A thread the layer did not start (the main thread): end the host thread.
  pthread_exit(nullptr);
}
