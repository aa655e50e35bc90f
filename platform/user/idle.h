// The idle hook of the message wait.
//
// GetMessageW and WaitMessage call the hook each time the calling thread's
// queue is empty, before the thread sleeps: the display layer uses it to
// show the screen, take the window's input and write a requested picture,
// without the window layer knowing about the display. The hook returns the
// longest the wait may then sleep before it calls the hook again (INFINITE:
// until a message comes); messages the hook queues are taken at once. One
// hook per process; it runs on every thread that waits, so a hook that
// belongs to one thread checks the thread itself.
#pragma once

#include "kernel/types.h"

namespace qk {

using IdleHook = DWORD (*)();

// Installs the hook (null removes it) and returns the one it replaces, so a
// caller can chain to it.
IdleHook SetIdleHook(IdleHook hook);

// Runs the hook; INFINITE when there is none.
DWORD RunIdleHook();

// Makes the thread's message wait look again, from any thread: a thread
// that sleeps in it wakes and runs the hook once more. For a hook that
// learns of its own work elsewhere (input waiting on the window) and so
// may let the thread sleep until a message comes.
void WakeIdle(DWORD threadId);

}  // namespace qk
