// Internal to the kernel layer: the objects a wait can be satisfied by.
//
// Every waitable object keeps its state under one process-wide lock
// (WaitLock). A waiter checks its objects under that lock and sleeps on one
// condition variable that every state change wakes. Objects whose state lives
// outside this process (named objects shared with other processes, processes
// that are not our children) are polled: a waiter that holds one wakes up
// every few milliseconds to look again.
#pragma once

#include <mutex>
#include <string>

#include "kernel/handle.h"
#include "kernel/types.h"

namespace qk {

class Waitable : public KernelObject {
 public:
  // All three are called with WaitLock() held.
  // True when a wait by thread tid would be satisfied now.
  virtual bool Ready(DWORD tid) = 0;
  // Takes what the wait consumes (an auto-reset signal, a mutex ownership, a
  // semaphore count). Returns false when another process took it first.
  virtual bool Acquire(DWORD tid) = 0;
  // True when the state can change without this process noticing.
  virtual bool Polled() const { return false; }
};

std::mutex& WaitLock();
// Wakes every waiter so that it looks at its objects again.
void NotifyWaiters();

// The host folder for kernel objects shared between the processes of the
// device root (created on first use).
std::string SharedObjectFolder();

// Identifies the thread for mutex ownership and GetCurrentThreadId.
DWORD CurrentThreadId();
DWORD NewThreadId();
void SetCurrentThreadId(DWORD id);
// The thread object of the running thread (null for threads the layer did
// not start) and the object behind any waitable handle, pseudo handles
// included.
std::shared_ptr<Waitable> CurrentThreadObject();
std::shared_ptr<Waitable> ResolveWaitable(HANDLE handle);

}  // namespace qk
