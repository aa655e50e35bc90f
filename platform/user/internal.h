// Internal to the window layer: windows, queues and the pieces that the
// cross-process bus shares with the in-process message code.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "user/user.h"

namespace qk::user {

struct ThreadQueue;

// A message sent to a window, waiting in the receiving thread's queue.
struct SentMessage {
  HWND hwnd = nullptr;
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  LRESULT result = 0;
  bool done = false;                     // guarded by waiter->lock when there is a waiter
  std::shared_ptr<ThreadQueue> waiter;   // the sending thread, woken on completion
  std::function<void(LRESULT)> onDone;   // a reply to another program
  std::vector<uint8_t> data;             // WM_COPYDATA from another program
  COPYDATASTRUCT cds{};
  bool remote = false;                   // a request from a program that drives this one (user/remote.h)
};

struct Timer {
  HWND hwnd = nullptr;
  UINT_PTR id = 0;
  UINT elapse = 0;
  TIMERPROC proc = nullptr;
  uint64_t due = 0;
};

// What a window is owed in painting: the bounding rectangle of its
// invalidated parts (client co-ordinates), whether its background is to be
// erased, and whether the queue has already handed out its WM_PAINT (the
// debt is paid when the window paints; one that is still there at the next
// look was not, and goes).
struct PaintDebt {
  RECT area{};
  bool erase = false;
  bool given = false;
};

struct ThreadQueue {
  DWORD tid = 0;
  std::mutex lock;
  std::condition_variable cv;
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;
  std::vector<Timer> timers;
  // Debts of windows that cannot be seen now (hidden, minimised, covered)
  // are kept and merged until they show.
  std::map<HWND, PaintDebt> paintOwed;
  // Requests answered once the queue has gone empty (user/remote.h).
  std::vector<std::shared_ptr<SentMessage>> settling;
  bool quit = false;
  int quitCode = 0;
  int inSend = 0;  // depth of sent messages being handled
  bool dead = false;  // the thread has ended: sends to it complete at once
  // Counts every change of the queue's state; changed under the lock, read
  // by waiters that look whether something came meanwhile.
  std::atomic<uint64_t> activity{0};
  std::atomic<int> sleepers{0};
};

// After changing a queue's state under its lock: note the change.
inline void Touched(ThreadQueue& q) { q.activity.fetch_add(1); }
// After releasing the lock: wake the queue's thread if it sleeps.
inline void Wake(ThreadQueue& q) {
  if (q.sleepers.load() > 0) q.cv.notify_all();
}
// Waits, with the lock held on entry and exit, until the queue changes or
// the time comes, asleep in the kernel (a spurious return is possible:
// callers look again).
void SleepOn(ThreadQueue& q, std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point until);

// Makes the calling thread the UI thread whose loops a requested end ends
// (qk::RequestProgramEnd).
void SetProgramEndThread();

struct Window {
  HWND hwnd = nullptr;
  std::u16string className;
  WNDPROC proc = nullptr;
  HINSTANCE instance = nullptr;
  HWND parent = nullptr;
  HWND owner = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  std::u16string text;
  RECT rect{};  // relative to the parent (screen for top-level windows)
  LONG_PTR id = 0;
  LONG_PTR userData = 0;
  std::vector<uint8_t> extra;
  std::vector<HWND> children;
  std::shared_ptr<ThreadQueue> queue;
  std::atomic<bool> destroying{false};
};

// Makes the activation routine's choice of the next active window when
// window stops being eligible (hidden, disabled or destroyed).
void ActivateNextIfActive(HWND window);
// This program's top-level windows from the top of the screen down: the
// topmost ones first, then the others, the most recently raised first.
std::vector<HWND> ZOrderedTopLevels();
// A tap on a window activates its top-level window (WA_CLICKACTIVE) unless
// that one never takes the activation.
void ActivateByClick(HWND window);
// The top-level window that holds window (itself when top-level).
HWND TopLevelOf(HWND window);
// True when the window and every parent up to its top-level are enabled.
bool TakesInput(HWND window);
// Owes a visible window its painting with every visible window inside it,
// or only the windows inside it: a window's painting covers its children,
// so they paint again after it.
void InvalidateTree(HWND window);
void InvalidateChildren(HWND window);
// Owes the visible windows inside window the part of their area that lies
// in area (window's client co-ordinates), and so on down: what the
// window's painting of area covered.
void InvalidateChildrenIn(HWND window, const RECT& area);
// Whether the window can be painted now: it and its parents are visible,
// its top-level window is not minimised, and some of area (client
// co-ordinates; all of it when null) lies outside the windows above it.
bool ShowsNow(HWND window, const RECT* area);
// The window's paint debt, taken off the queue (BeginPaint); false when it
// owes nothing.
bool TakePaintDebt(HWND window, PaintDebt* debt);
// Posts a message ahead of everything else in the window's queue.
bool PostFront(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

// The calling thread's queue (created on first use) and any thread's.
std::shared_ptr<ThreadQueue> CurrentQueue();
std::shared_ptr<ThreadQueue> QueueOf(DWORD tid);

// Window handles carry the owning process id in their upper 32 bits.
bool IsLocalHandle(HWND hwnd);
DWORD HandleProcess(HWND hwnd);

// Completes a sent message and wakes its sender.
void Complete(const std::shared_ptr<SentMessage>& sm, LRESULT result);
// Queues a sent message for the thread that owns sm->hwnd; completes it with
// 0 when the window does not exist.
void Enqueue(const std::shared_ptr<SentMessage>& sm);
// Waits for a sent message to complete, handling the messages sent to this
// thread meanwhile. Without a deadline (timeoutMs INFINITE) waits for ever.
bool WaitSent(const std::shared_ptr<SentMessage>& sm, DWORD timeoutMs);

std::vector<HWND> LocalTopLevelWindows();
struct TopLevelInfo {
  HWND hwnd;
  std::u16string className;
  std::u16string text;
};
std::vector<TopLevelInfo> LocalTopLevelInfo();

// The bus (bus.cpp).
void BusWindowsChanged();
bool BusPost(HWND target, UINT msg, WPARAM wParam, LPARAM lParam);
// Sends to a window of another program, or to every other program's
// top-level windows for HWND_BROADCAST. False on time-out or a gone peer.
bool BusSend(HWND target, UINT msg, WPARAM wParam, LPARAM lParam, DWORD timeoutMs, LRESULT* result);
HWND BusFindWindow(LPCWSTR className, LPCWSTR title);
bool BusIsWindow(HWND hwnd);
// The live top-level windows of the other programs, program by program.
std::vector<TopLevelInfo> BusTopLevelWindows();
// The class of another program's top-level window; false when it is gone.
bool BusClassName(HWND hwnd, std::u16string* className);
// The device path of the program file of another program on the bus
// (empty when it is not known).
std::u16string BusProgramPath(DWORD pid);

// Requests from a program that drives this one (remote.cpp): whether a
// message that came over the bus is one, and carrying one out on the
// receiving window's thread (it completes the message, now or when the
// thread's queue has gone empty).
bool IsRemoteRequest(UINT msg, uint64_t copyDataTag);
void RunRemoteRequest(const std::shared_ptr<SentMessage>& sm);
// Completes sm once the calling thread's queue has gone empty (window.cpp).
void SettleThen(const std::shared_ptr<SentMessage>& sm);

// The button a message box answers without a hook: its default one.
int DefaultMessageBoxAnswer(UINT type);
// Whether message boxes are shown for a person to answer (qk::SetMessageBoxesShown).
bool MessageBoxesShown();
// Closes every box showing, on any thread, as cancelled (the program ends).
void EndShownMessageBoxes();
// Shows a message box on the device screen and runs it modally over its
// owner; the button chosen, or the box's cancelling answer when the
// program's end or the owner's going ended it (message_box.cpp).
int ShowMessageBox(HWND owner, const std::u16string& text, const std::u16string& caption, UINT type);

// Registers the dialog class, "#32770", also named "Dialog" (dialog.cpp).
void RegisterDialogClasses();

// How long a send to another program may take before the sender gives up.
constexpr DWORD kRemoteSendTimeoutMs = 5000;

}  // namespace qk::user
