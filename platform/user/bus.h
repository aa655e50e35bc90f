// The message bus between the programs of one device root.
//
// Each program that uses windows joins the bus: it binds a Unix datagram
// socket (in the abstract name space, named after the device root and its
// process id) and lists its top-level windows (handle, class, title) in
// "<device root>/.bus/<pid>.windows". FindWindowW reads those lists;
// PostMessage, SendMessage and WM_COPYDATA to another program's window, and
// HWND_BROADCAST, travel as datagrams that the receiving program's bus
// thread queues for the window's thread. A send waits for the reply at most
// a time-out, and gives up at once when the peer's socket is gone.
//
// A list can outlive its program (a crash), and its process id can come back
// as another program: a remote window is believed only when its owner's
// socket is bound and the owner answers that the handle is a live window of
// its own, so FindWindowW and IsWindow always agree. A program that joins
// starts a fresh list under its id; lists nobody listens for are removed.
//
// Pointers mean nothing in another program. WM_COPYDATA carries its bytes,
// WM_SETTEXT and WM_SETTINGCHANGE their string, and WM_GETTEXT gets its text
// back with the answer (these only when sent). Other system messages below
// WM_USER travel only when their parameters are plain values; the rest are
// refused by the sender (ERROR_INVALID_PARAMETER) and dropped by a receiver.
// Messages from WM_USER on are the programs' own and travel as values.
// Registered message numbers come from the shared atom table
// "<device root>/.bus/atoms", written under a file lock.
#pragma once

#include <vector>

#include "kernel/types.h"

namespace qk {
// Joins the bus now (windows join by themselves when they are created).
void JoinMessageBus();
// The process ids of the other programs on the bus.
std::vector<DWORD> MessageBusPeers();
}  // namespace qk
