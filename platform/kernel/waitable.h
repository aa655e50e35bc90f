// Internal to the kernel layer: the objects a wait can be satisfied by, and
// how a waiting thread sleeps (see README.md in this folder).
//
// A waiting thread sleeps in the host kernel on a few 32-bit words (one
// futex_waitv call) until one of them changes or its time-out is due; it
// never wakes on a timer to look again.
//  - Events, mutexes and semaphores keep their state in a word of their own:
//    in this process's memory, or, for a named object, in a small file of the
//    device root's kernel folder that every process using the name maps. A
//    change wakes the word, in every process when it is shared.
//  - Every other object (threads, processes, connections) keeps its state
//    under WaitLock() and calls NotifyWaiters() after a change, which wakes
//    this process's notification word; every wait sleeps on that word too.
//  - The end of a host process that is not our child (a process opened by
//    id, the owner of a named mutex in another program) is seen by one thread
//    that sleeps in poll() on pidfds (WatchHostProcess).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "kernel/handle.h"
#include "kernel/types.h"

namespace qk {

// A word a waiter can sleep on; shared when it lies in a mapping that other
// processes may wait on.
struct WaitWord {
  std::atomic<uint32_t>* word = nullptr;
  bool shared = false;
};

// Wakes every thread sleeping on the word (in every process when it is
// shared) and answers how many there were.
int WakeWord(const WaitWord& word);

class Waitable : public KernelObject {
 public:
  // Ready and Acquire are called with WaitLock() held.
  // True when a wait by thread tid would be satisfied now.
  virtual bool Ready(DWORD tid) = 0;
  // Takes what the wait consumes (an auto-reset signal, a mutex ownership, a
  // semaphore count). Returns false when another waiter took it first.
  virtual bool Acquire(DWORD tid) = 0;

  // The rest are called with WaitLock() held too.
  // Gives back what a successful Acquire took (a wait for several objects
  // that could not take all of them at once).
  virtual void Undo(DWORD) {}
  // True, once, after an Acquire that took a mutex whose owner ended without
  // releasing it.
  virtual bool TakeAbandoned() { return false; }
  // The word whose change can make the object ready (none: the object calls
  // NotifyWaiters instead).
  virtual WaitWord Word() { return {}; }
  // For a wait that any one object ends: true when the object was signalled
  // since its word had the value given, even if it is not now (a
  // manual-reset event set and reset again, or pulsed, releases the threads
  // that were waiting on it).
  virtual bool SignalledSince(uint32_t) { return false; }
  // Called before a wait gives up or sleeps, to look at what the word cannot
  // tell (whether the owner of a shared mutex still lives). True when that
  // changed the object's state.
  virtual bool Recheck() { return false; }
  // A host process watched for this object (WatchHostProcess) has ended;
  // start is the start time it was watched with.
  virtual void HostProcessEnded(pid_t, uint32_t) {}
};

std::mutex& WaitLock();
// Wakes every waiter of this process so that it looks at its objects again.
void NotifyWaiters();

// Start time of a host process in clock ticks since boot (its low 32 bits):
// with the process number, it tells one process from a later one that got
// the same number. 0 when the process is not there.
uint32_t HostProcessStart(pid_t pid);
// This process as a shared mutex records its owner: number and start time.
uint64_t SelfIdentity();
// Calls object->HostProcessEnded (with WaitLock() held) and wakes this
// process's waiters when host process pid ends. start, when not 0, is the
// start time the process must have: a live process of that number that
// started at another time is a later one. Returns false, watching nothing,
// when that process has ended already.
bool WatchHostProcess(pid_t pid, uint32_t start, const std::shared_ptr<Waitable>& object);

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
