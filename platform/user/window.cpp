// Windows, classes, per-thread queues, sent and posted messages, timers,
// modal loops and message boxes.
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <unordered_map>

#include "kernel/sync.h"
#include "kernel/time.h"
#include "gdi/surface.h"
#include "kernel/wstring.h"
#include "user/dialog.h"
#include "user/idle.h"
#include "user/input.h"
#include "user/internal.h"
#include "kernel/module.h"
#include "user/remote.h"

namespace qk::user {
namespace {

// The tables below are never destroyed: a thread that ends while the
// program exits still takes its windows and queue out of them after the
// main thread has run the static destructors.
std::mutex g_lock;  // windows, classes, queues and the focus state
auto& g_windows = *new std::unordered_map<uint32_t, std::shared_ptr<Window>>;
auto& g_classes = *new std::map<std::u16string, WNDCLASSW>;
auto& g_classNames = *new std::map<std::u16string, std::u16string>;  // the spelling given at registration
auto& g_queues = *new std::map<DWORD, std::shared_ptr<ThreadQueue>>;
// Handles are multiples of four, so that the low bits are free for callers
// that mark a handle (SetForegroundWindow with the lowest bit set).
uint32_t g_nextWindow = 4;
std::atomic<UINT_PTR> g_nextTimerId{0x7FFF0000};
HWND g_focus = nullptr, g_foreground = nullptr, g_active = nullptr, g_capture = nullptr;
// Top-level windows of this program, the most recently activated first.
auto& g_zorder = *new std::vector<HWND>;
int g_screenWidth = 480, g_screenHeight = 800;
auto& g_defaultArea = *new std::function<RECT()>;  // where CW_USEDEFAULT puts a top-level window
qk::MessageBoxHook g_messageBoxHook;
std::atomic<qk::PreTranslateHook> g_preTranslate{nullptr};
std::atomic<qk::CreateHook> g_createHook{nullptr};
std::atomic<qk::DestroyHook> g_destroyHook{nullptr};

thread_local std::shared_ptr<ThreadQueue> t_queue;

// Ends a thread's share of the window layer when the thread ends: its
// windows are destroyed and every sender still waiting on it is released.
struct ThreadEnd {
  bool armed = false;
  ~ThreadEnd();
};
thread_local ThreadEnd t_end;

std::u16string Lower(const std::u16string& s) {
  std::u16string out = s;
  for (auto& c : out) c = towlower16(c);
  return out;
}

uint32_t LocalIndex(HWND hwnd) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(hwnd) & 0xFFFFFFFFu); }

std::shared_ptr<Window> Find(HWND hwnd) {
  if (!hwnd || !IsLocalHandle(hwnd)) return nullptr;
  std::lock_guard<std::mutex> lock(g_lock);
  auto it = g_windows.find(LocalIndex(hwnd));
  return it == g_windows.end() ? nullptr : it->second;
}

bool IsTopLevel(const Window& w) { return (w.style & WS_CHILD) == 0; }

void Raise(HWND hwnd) {  // with g_lock held
  g_zorder.erase(std::remove(g_zorder.begin(), g_zorder.end(), hwnd), g_zorder.end());
  g_zorder.insert(g_zorder.begin(), hwnd);
}

bool Eligible(const std::shared_ptr<Window>& w) {
  return w && !w->destroying && IsTopLevel(*w) && (w->style & WS_VISIBLE) && !(w->style & WS_DISABLED);
}

bool IsMinimized(HWND hwnd) { return (GetWindowLongW(hwnd, GWL_STYLE) & WS_MINIMIZE) != 0; }

// The activation routine: WM_ACTIVATE goes to the window that loses the
// activation, then to the one that gains it, and the focus moves into the
// new active window (its WM_ACTIVATE default handling chooses where; when
// the handler left it outside, the window itself takes it).
void Activate(HWND hwnd, WORD how) {
  HWND old;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    old = g_active;
    if (old == hwnd) return;
    g_active = hwnd;
    if (hwnd) {
      g_foreground = hwnd;
      Raise(hwnd);
    }
  }
  if (old && IsWindow(old))
    SendNotifyMessageW(old, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, IsMinimized(old) ? 1 : 0),
                       reinterpret_cast<LPARAM>(hwnd));
  if (GetActiveWindow() != hwnd) return;  // the old window's handler activated another
  if (!hwnd) {
    SetFocus(nullptr);
    return;
  }
  if (!IsWindow(hwnd)) return;
  SendNotifyMessageW(hwnd, WM_ACTIVATE, MAKEWPARAM(how, IsMinimized(hwnd) ? 1 : 0), reinterpret_cast<LPARAM>(old));
  HWND focus = GetFocus();
  if (GetActiveWindow() == hwnd && IsWindow(hwnd) && focus != hwnd && !IsChild(hwnd, focus) && !IsMinimized(hwnd))
    SetFocus(hwnd);
}

// The window that becomes active when leaving goes: its owner when that can
// take it, else the most recently active window that can.
HWND NextActive(HWND leaving) {
  std::lock_guard<std::mutex> lock(g_lock);
  auto find = [](HWND h) -> std::shared_ptr<Window> {
    auto it = g_windows.find(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h) & 0xFFFFFFFFu));
    return it == g_windows.end() ? nullptr : it->second;
  };
  auto w = find(leaving);
  if (w && w->owner) {
    auto owner = find(w->owner);
    if (Eligible(owner)) return owner->hwnd;
  }
  for (HWND h : g_zorder) {
    if (h == leaving) continue;
    auto other = find(h);
    if (Eligible(other) && other->owner != leaving) return h;
  }
  return nullptr;
}

// Calls the window's procedure on this thread.
LRESULT CallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto w = Find(hwnd);
  if (!w || !w->proc) return 0;
  return w->proc(hwnd, msg, wParam, lParam);
}

void HandleSent(const std::shared_ptr<SentMessage>& sm) {
  auto queue = CurrentQueue();
  if (sm->remote) {
    // Carried out here, where the thread takes its messages, not by the
    // window procedure.
    ++queue->inSend;
    RunRemoteRequest(sm);
    --queue->inSend;
    return;
  }
  ++queue->inSend;
  LPARAM lParam = sm->lParam;
  if (sm->msg == WM_COPYDATA && (!sm->data.empty() || sm->onDone)) {
    sm->cds.cbData = static_cast<DWORD>(sm->data.size());
    sm->cds.lpData = sm->data.empty() ? nullptr : sm->data.data();
    lParam = reinterpret_cast<LPARAM>(&sm->cds);
  }
  LRESULT result = CallProc(sm->hwnd, sm->msg, sm->wParam, lParam);
  --queue->inSend;
  Complete(sm, result);
}

bool Matches(const MSG& m, HWND hwnd, UINT first, UINT last) {
  if (hwnd && m.hwnd != hwnd) return false;
  if (first == 0 && last == 0) return true;
  return m.message >= first && m.message <= last;
}

uint64_t Now() { return qk::TickCount64(); }

// With the queue's lock held: drops the paint debts of windows that are
// gone and the debts whose WM_PAINT was handed out and not paid (a window
// procedure that does not validate would be sent WM_PAINT for ever), and
// chooses the next window to paint, one of hwnd's when it is given. A
// window is painted before the windows inside it, since its painting covers
// them. A window that cannot be seen now (hidden, minimised or covered
// where it is owed) is not painted: its debt waits until it shows.
HWND NextOwedPaint(ThreadQueue& q, HWND hwnd) {
  if (q.paintOwed.empty()) return nullptr;
  std::vector<HWND> candidates;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    auto lookup = [](HWND h) -> Window* {
      if (!h || !IsLocalHandle(h)) return nullptr;
      auto it = g_windows.find(LocalIndex(h));
      return it == g_windows.end() ? nullptr : it->second.get();
    };
    for (auto it = q.paintOwed.begin(); it != q.paintOwed.end();) {
      Window* w = lookup(it->first);
      if (!w || w->destroying || it->second.given)
        it = q.paintOwed.erase(it);
      else
        ++it;
    }
    // Visible with its parents, and its top-level window not minimised:
    // only then is it worth asking whether windows above cover it.
    auto seen = [&](HWND h) {
      for (Window* w = lookup(h); w; w = lookup(w->parent)) {
        if (!(w->style & WS_VISIBLE) || w->destroying) return false;
        if (IsTopLevel(*w)) return !(w->style & WS_MINIMIZE);
      }
      return false;
    };
    for (auto& [owed, debt] : q.paintOwed) {
      if (hwnd && owed != hwnd) continue;
      HWND pick = owed;
      if (!hwnd)
        for (Window* w = lookup(owed); w && w->parent; w = lookup(w->parent))
          if (q.paintOwed.count(w->parent)) pick = w->parent;
      if (seen(pick) && std::find(candidates.begin(), candidates.end(), pick) == candidates.end())
        candidates.push_back(pick);
    }
  }
  for (HWND pick : candidates)
    if (ShowsNow(pick, &q.paintOwed[pick].area)) return pick;
  return nullptr;
}

// True when nothing waits in the queue (whatever a filtered look left):
// no sent or posted message, no timer due, no window owed a painting it
// can be given now.
bool Drained(ThreadQueue& q, uint64_t now) {
  if (!q.sent.empty() || !q.posted.empty()) return false;
  for (auto& t : q.timers)
    if (t.due <= now) return false;
  return NextOwedPaint(q, nullptr) == nullptr;
}

// Looks for the next message of the calling thread. Handles sent messages on
// the way. Returns true with msg filled, or false when nothing is there.
bool NextMessage(const std::shared_ptr<ThreadQueue>& q, MSG* msg, HWND hwnd, UINT first, UINT last, bool remove,
                 std::unique_lock<std::mutex>& lock) {
  for (;;) {
    if (!q->sent.empty()) {
      auto sm = q->sent.front();
      q->sent.pop_front();
      lock.unlock();
      HandleSent(sm);
      lock.lock();
      continue;
    }
    for (auto it = q->posted.begin(); it != q->posted.end(); ++it) {
      if (Matches(*it, hwnd, first, last)) {
        *msg = *it;
        if (remove) q->posted.erase(it);
        return true;
      }
    }
    if (q->quit && !hwnd) {
      *msg = MSG{};
      msg->message = WM_QUIT;
      msg->wParam = static_cast<WPARAM>(q->quitCode);
      if (remove) q->quit = false;
      return true;
    }
    uint64_t now = Now();
    for (auto& t : q->timers) {
      if (t.due <= now && (!hwnd || t.hwnd == hwnd) && ((first == 0 && last == 0) || (WM_TIMER >= first && WM_TIMER <= last))) {
        *msg = MSG{};
        msg->hwnd = t.hwnd;
        msg->message = WM_TIMER;
        msg->wParam = t.id;
        msg->lParam = reinterpret_cast<LPARAM>(t.proc);
        msg->time = static_cast<DWORD>(now);
        if (remove) t.due = now + std::max<UINT>(t.elapse, 1);
        return true;
      }
    }
    if ((first == 0 && last == 0) || (WM_PAINT >= first && WM_PAINT <= last)) {
      if (HWND owed = NextOwedPaint(*q, hwnd)) {
        *msg = MSG{};
        msg->hwnd = owed;
        msg->message = WM_PAINT;
        // The window validates itself when painted (BeginPaint takes the
        // debt with its area); one that does not has it dropped at the next
        // look.
        if (remove) q->paintOwed[owed].given = true;
        return true;
      }
    }
    if (!q->settling.empty() && Drained(*q, now)) {
      // Everything queued before the requests has been handled.
      std::vector<std::shared_ptr<SentMessage>> settled;
      settled.swap(q->settling);
      lock.unlock();
      for (auto& sm : settled) Complete(sm, qk::remote::kDone);
      lock.lock();
      continue;
    }
    return false;
  }
}

// Waits for something new in the queue, at most until the next timer.
void WaitForMore(const std::shared_ptr<ThreadQueue>& q, std::unique_lock<std::mutex>& lock,
                 std::chrono::steady_clock::time_point deadline) {
  auto until = deadline;
  if (!q->timers.empty()) {
    uint64_t now = Now();
    uint64_t next = UINT64_MAX;
    for (auto& t : q->timers) next = std::min(next, t.due);
    // A frozen clock only moves when it is advanced, and its advance wakes
    // every queue (ClockMoved): until then no timer comes due.
    if (!qk::ClockFrozen())
      until = std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(next > now ? next - now : 0));
  }
  SleepOn(*q, lock, until);
}

constexpr auto kForever = std::chrono::steady_clock::time_point::max();

bool PostLocal(const std::shared_ptr<ThreadQueue>& q, const MSG& m) {
  {
    std::lock_guard<std::mutex> lock(q->lock);
    q->posted.push_back(m);
    Touched(*q);
  }
  Wake(*q);
  return true;
}

void RemoveTimersOf(HWND hwnd, const std::shared_ptr<ThreadQueue>& q) {
  std::lock_guard<std::mutex> lock(q->lock);
  q->timers.erase(std::remove_if(q->timers.begin(), q->timers.end(), [&](const Timer& t) { return t.hwnd == hwnd; }),
                  q->timers.end());
  q->paintOwed.erase(hwnd);
}

}  // namespace

void SleepOn(ThreadQueue& q, std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point until) {
  // The lock is held from the caller's look at the queue to the sleep, so a
  // change (made under the lock, and waking the sleepers after it) cannot
  // come in between unseen. The thread sleeps in the kernel at once.
  ++q.sleepers;
  q.cv.wait_until(lock, until);
  --q.sleepers;
}

void SettleThen(const std::shared_ptr<SentMessage>& sm) {
  auto q = CurrentQueue();
  {
    std::lock_guard<std::mutex> lock(q->lock);
    q->settling.push_back(sm);
    Touched(*q);
  }
  Wake(*q);
}

namespace {
// The frozen clock moved (or thawed): timers may have come due on any
// thread, so every queue looks again.
void ClockMoved() {
  std::vector<std::shared_ptr<ThreadQueue>> queues;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    for (auto& [tid, q] : g_queues) queues.push_back(q);
  }
  for (auto& q : queues) {
    {
      std::lock_guard<std::mutex> lock(q->lock);
      Touched(*q);
    }
    Wake(*q);
  }
}
struct ListenToClock {
  ListenToClock() { qk::SetClockListener(ClockMoved); }
} g_listenToClock;
}  // namespace

std::shared_ptr<ThreadQueue> CurrentQueue() {
  if (!t_queue) {
    t_queue = QueueOf(GetCurrentThreadId());
    t_end.armed = true;
  }
  return t_queue;
}

namespace {
ThreadEnd::~ThreadEnd() {
  // The main thread's end is the program's: nothing is left to release.
  if (!armed || !t_queue || ::gettid() == ::getpid()) return;
  auto q = t_queue;
  for (;;) {
    HWND next = nullptr;
    {
      std::lock_guard<std::mutex> lock(g_lock);
      for (auto& [index, w] : g_windows)
        if (w->queue == q && !w->destroying && (IsTopLevel(*w) || !next)) {
          next = w->hwnd;
          if (IsTopLevel(*w)) break;
        }
    }
    if (!next || !DestroyWindow(next)) break;
  }
  std::deque<std::shared_ptr<SentMessage>> waiting;
  {
    std::lock_guard<std::mutex> lock(q->lock);
    q->dead = true;
    waiting.swap(q->sent);
    waiting.insert(waiting.end(), q->settling.begin(), q->settling.end());
    q->settling.clear();
    q->timers.clear();
    q->paintOwed.clear();
  }
  for (auto& sm : waiting) Complete(sm, 0);
  std::lock_guard<std::mutex> lock(g_lock);
  auto it = g_queues.find(q->tid);
  if (it != g_queues.end() && it->second == q) g_queues.erase(it);
}
}  // namespace

std::vector<HWND> ZOrderedTopLevels() {
  std::lock_guard<std::mutex> lock(g_lock);
  std::vector<HWND> topmost, rest;
  for (HWND h : g_zorder) {
    auto it = g_windows.find(LocalIndex(h));
    if (it == g_windows.end() || it->second->destroying) continue;
    (it->second->exStyle & WS_EX_TOPMOST ? topmost : rest).push_back(h);
  }
  topmost.insert(topmost.end(), rest.begin(), rest.end());
  return topmost;
}

HWND TopLevelOf(HWND hwnd) {
  HWND top = nullptr;
  for (auto w = Find(hwnd); w; w = w->parent ? Find(w->parent) : nullptr) {
    top = w->hwnd;
    if (IsTopLevel(*w)) break;
  }
  return top;
}

bool TakesInput(HWND hwnd) {
  auto w = Find(hwnd);
  if (!w) return false;
  for (; w; w = w->parent ? Find(w->parent) : nullptr) {
    if (w->style & WS_DISABLED) return false;
    if (IsTopLevel(*w)) return true;
  }
  return false;
}

void ActivateByClick(HWND hwnd) {
  HWND top = TopLevelOf(hwnd);
  auto w = Find(top);
  if (!w || w->destroying || (w->exStyle & WS_EX_NOACTIVATE) || GetActiveWindow() == top) return;
  Activate(top, WA_CLICKACTIVE);
}

void ActivateNextIfActive(HWND hwnd) {
  if (GetActiveWindow() == hwnd) Activate(NextActive(hwnd), WA_ACTIVE);
}

bool PostFront(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto w = Find(hwnd);
  if (!w) return false;
  {
    std::lock_guard<std::mutex> lock(w->queue->lock);
    w->queue->posted.push_front(MSG{hwnd, msg, wParam, lParam, 0, {0, 0}});
    Touched(*w->queue);
  }
  Wake(*w->queue);
  return true;
}

std::shared_ptr<ThreadQueue> QueueOf(DWORD tid) {
  std::lock_guard<std::mutex> lock(g_lock);
  auto& q = g_queues[tid];
  if (!q) {
    q = std::make_shared<ThreadQueue>();
    q->tid = tid;
  }
  return q;
}

// This process's id, read once rather than at every window lookup; a forked
// child forgets it and reads its own.
std::atomic<DWORD> g_selfPid{0};
DWORD SelfPid() {
  DWORD pid = g_selfPid.load(std::memory_order_relaxed);
  if (pid) return pid;
  static const bool forgetInChild = [] {
    pthread_atfork(nullptr, nullptr, [] { g_selfPid.store(0, std::memory_order_relaxed); });
    return true;
  }();
  (void)forgetInChild;
  pid = static_cast<DWORD>(::getpid());
  g_selfPid.store(pid, std::memory_order_relaxed);
  return pid;
}

bool IsLocalHandle(HWND hwnd) { return HandleProcess(hwnd) == SelfPid(); }
DWORD HandleProcess(HWND hwnd) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(hwnd) >> 32); }

void Complete(const std::shared_ptr<SentMessage>& sm, LRESULT result) {
  if (sm->waiter) {
    {
      std::lock_guard<std::mutex> lock(sm->waiter->lock);
      sm->result = result;
      sm->done = true;
      Touched(*sm->waiter);
    }
    Wake(*sm->waiter);
  } else {
    sm->result = result;
    sm->done = true;
  }
  if (sm->onDone) sm->onDone(result);
}

void Enqueue(const std::shared_ptr<SentMessage>& sm) {
  auto w = Find(sm->hwnd);
  if (!w) {
    Complete(sm, 0);
    return;
  }
  bool accepted;
  {
    std::lock_guard<std::mutex> lock(w->queue->lock);
    accepted = !w->queue->dead;
    if (accepted) {
      w->queue->sent.push_back(sm);
      Touched(*w->queue);
    }
  }
  if (!accepted) {
    Complete(sm, 0);
    return;
  }
  Wake(*w->queue);
}

bool WaitSent(const std::shared_ptr<SentMessage>& sm, DWORD timeoutMs) {
  auto q = CurrentQueue();
  auto deadline = timeoutMs == INFINITE ? kForever
                                        : std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> lock(q->lock);
  for (;;) {
    if (sm->done) return true;
    if (!q->sent.empty()) {
      auto incoming = q->sent.front();
      q->sent.pop_front();
      lock.unlock();
      HandleSent(incoming);
      lock.lock();
      continue;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    SleepOn(*q, lock, deadline);
  }
}

std::vector<HWND> LocalTopLevelWindows() {
  std::vector<HWND> out;
  std::lock_guard<std::mutex> lock(g_lock);
  for (auto& [index, w] : g_windows)
    if (IsTopLevel(*w) && !w->destroying) out.push_back(w->hwnd);
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<TopLevelInfo> LocalTopLevelInfo() {
  std::vector<TopLevelInfo> out;
  std::lock_guard<std::mutex> lock(g_lock);
  for (auto& [index, w] : g_windows)
    if (IsTopLevel(*w) && !w->destroying) out.push_back({w->hwnd, w->className, w->text});
  std::sort(out.begin(), out.end(), [](const TopLevelInfo& a, const TopLevelInfo& b) { return a.hwnd < b.hwnd; });
  return out;
}

}  // namespace qk::user

using namespace qk::user;

ATOM RegisterClassW(const WNDCLASSW* wc) {
  if (!wc || !wc->lpszClassName || !wc->lpfnWndProc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string key = Lower(wc->lpszClassName);
  std::lock_guard<std::mutex> lock(g_lock);
  if (g_classes.count(key)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  WNDCLASSW copy = *wc;
  g_classNames[key] = wc->lpszClassName;
  copy.lpszClassName = g_classNames[key].c_str();
  copy.lpszMenuName = nullptr;
  g_classes[key] = copy;
  return static_cast<ATOM>(0xC000 + g_classes.size());
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE) {
  if (!className) return FALSE;
  std::lock_guard<std::mutex> lock(g_lock);
  std::u16string key = Lower(className);
  for (auto& [index, w] : g_windows)
    if (Lower(w->className) == key) return FALSE;  // still in use
  if (!g_classes.erase(key)) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  g_classNames.erase(key);
  return TRUE;
}

BOOL GetClassInfoW(HINSTANCE, LPCWSTR className, LPWNDCLASSW wc) {
  if (!className) return FALSE;
  // The system's dialog class exists before the first dialog is made.
  std::u16string key = Lower(className);
  if (key == u"#32770" || key == u"dialog") RegisterDialogClasses();
  auto lookUp = [&] {
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_classes.find(key);
    if (it == g_classes.end()) return false;
    if (wc) *wc = it->second;
    return true;
  };
  if (lookUp()) return TRUE;
  // So are the standard controls, whether or not the program called
  // InitCommonControls: they are registered at the first class not found.
  qk::RegisterStandardControls();
  if (lookUp()) return TRUE;
  SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
  return FALSE;
}

int GetClassNameW(HWND hwnd, LPWSTR name, int cch) {
  if (!name || cch <= 0) return 0;
  std::u16string className;
  if (auto w = Find(hwnd)) {
    className = w->className;
  } else if (!hwnd || IsLocalHandle(hwnd) || !BusClassName(hwnd, &className)) {
    // Another program's top-level window answers from its list on the bus.
    return 0;
  }
  int n = std::min<int>(static_cast<int>(className.size()), cch - 1);
  std::memcpy(name, className.data(), n * sizeof(char16_t));
  name[n] = 0;
  return n;
}

namespace {

// Every window of the tree, parents before their children.
void Tree(HWND hwnd, std::vector<HWND>* out) {
  out->push_back(hwnd);
  std::vector<HWND> children;
  if (auto w = Find(hwnd)) {
    std::lock_guard<std::mutex> lock(g_lock);
    children = w->children;
  }
  for (HWND child : children) Tree(child, out);
}

void Forget(const std::shared_ptr<Window>& w) {
  HWND hwnd = w->hwnd;
  RemoveTimersOf(hwnd, w->queue);
  {
    std::lock_guard<std::mutex> lock(g_lock);
    g_windows.erase(LocalIndex(hwnd));
    g_zorder.erase(std::remove(g_zorder.begin(), g_zorder.end(), hwnd), g_zorder.end());
    if (w->parent) {
      auto it = g_windows.find(LocalIndex(w->parent));
      if (it != g_windows.end()) {
        auto& siblings = it->second->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), hwnd), siblings.end());
      }
    }
    if (g_focus == hwnd) g_focus = nullptr;
    if (g_active == hwnd) g_active = nullptr;
    if (g_foreground == hwnd) g_foreground = nullptr;
    if (g_capture == hwnd) g_capture = nullptr;
  }
  // Messages sent to the window and not yet handled get 0.
  std::vector<std::shared_ptr<SentMessage>> orphans;
  {
    std::lock_guard<std::mutex> lock(w->queue->lock);
    auto& sent = w->queue->sent;
    for (auto it = sent.begin(); it != sent.end();) {
      if ((*it)->hwnd == hwnd) {
        orphans.push_back(*it);
        it = sent.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& sm : orphans) Complete(sm, 0);
}

}  // namespace

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menuOrId, HINSTANCE instance, LPVOID param) {
  WNDCLASSW wc{};
  if (!className || !GetClassInfoW(instance, className, &wc)) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return nullptr;
  }
  std::shared_ptr<Window> parentWindow;
  if (parent) {
    parentWindow = Find(parent);
    if (!parentWindow || parentWindow->destroying) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    // A child lives on its parent's thread: another thread may not make one.
    if ((style & WS_CHILD) && parentWindow->queue != CurrentQueue()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
  } else if (style & WS_CHILD) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto w = std::make_shared<Window>();
  w->className = wc.lpszClassName;
  w->proc = wc.lpfnWndProc;
  w->instance = instance;
  // A window is shown once it exists, as ShowWindow would show it.
  w->style = style & ~static_cast<DWORD>(WS_VISIBLE);
  w->exStyle = exStyle;
  w->text = title ? title : u"";
  if (style & WS_CHILD) {
    w->parent = parent;
    w->id = reinterpret_cast<LONG_PTR>(menuOrId);
  } else {
    w->owner = parent;
  }
  RECT area{0, 0, g_screenWidth, g_screenHeight};
  if (!(style & WS_CHILD) && (x == CW_USEDEFAULT || width == CW_USEDEFAULT)) {
    std::function<RECT()> provider;
    {
      std::lock_guard<std::mutex> lock(g_lock);
      provider = g_defaultArea;
    }
    if (provider) area = provider();
  }
  if (x == CW_USEDEFAULT) x = area.left, y = area.top;
  if (width == CW_USEDEFAULT) width = area.right - area.left, height = area.bottom - area.top;
  w->rect = RECT{x, y, x + width, y + height};
  w->extra.assign(static_cast<size_t>(std::max(wc.cbWndExtra, 0)), 0);
  w->queue = CurrentQueue();
  {
    std::lock_guard<std::mutex> lock(g_lock);
    uint32_t index = g_nextWindow;
    g_nextWindow += 4;
    w->hwnd = reinterpret_cast<HWND>((static_cast<uintptr_t>(SelfPid()) << 32) | index);
    g_windows[index] = w;
    if (parentWindow && (style & WS_CHILD)) parentWindow->children.push_back(w->hwnd);
    if (IsTopLevel(*w)) g_zorder.insert(g_zorder.begin(), w->hwnd);  // a new window is on top
  }
  HWND hwnd = w->hwnd;
  if (IsTopLevel(*w)) BusWindowsChanged();
  CREATESTRUCTW cs{param, instance, menuOrId, parent, height, width, y, x, static_cast<LONG>(style), title,
                   className, exStyle};
  if (auto hook = g_createHook.load()) hook(hwnd, &cs);
  if (!CallProc(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
    // Refused before it was created: only WM_NCDESTROY follows.
    if (auto made = Find(hwnd)) {
      made->destroying = true;
      CallProc(hwnd, WM_NCDESTROY, 0, 0);
      Forget(made);
      if (IsTopLevel(*made)) BusWindowsChanged();
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (CallProc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    if (Find(hwnd)) DestroyWindow(hwnd);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!Find(hwnd) || w->destroying) return nullptr;
  CallProc(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(width, height));
  CallProc(hwnd, WM_MOVE, 0, MAKELPARAM(x, y));
  if (style & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
  return IsWindow(hwnd) ? hwnd : nullptr;
}

// Owes a visible window its painting, with every visible window inside it
// (it paints its whole area, over its children).
void qk::user::InvalidateTree(HWND hwnd) {
  auto w = Find(hwnd);
  if (!w || w->destroying || !(w->style & WS_VISIBLE)) return;
  InvalidateRect(hwnd, nullptr, TRUE);
  std::vector<HWND> children;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    children = w->children;
  }
  for (HWND child : children) InvalidateTree(child);
}

void qk::user::InvalidateChildren(HWND hwnd) {
  auto w = Find(hwnd);
  if (!w) return;
  std::vector<HWND> children;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    children = w->children;
  }
  for (HWND child : children) InvalidateTree(child);
}

void qk::user::InvalidateChildrenIn(HWND hwnd, const RECT& area) {
  auto w = Find(hwnd);
  if (!w || IsRectEmpty(&area)) return;
  std::vector<HWND> children;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    children = w->children;
  }
  for (HWND child : children) {
    auto c = Find(child);
    if (!c || c->destroying || !(c->style & WS_VISIBLE)) continue;
    RECT r, part;
    {
      std::lock_guard<std::mutex> lock(g_lock);
      r = c->rect;
    }
    if (!IntersectRect(&part, &r, &area)) continue;
    OffsetRect(&part, -r.left, -r.top);
    InvalidateRect(child, &part, TRUE);
    InvalidateChildrenIn(child, part);
  }
}

namespace {

// Whether the rectangles together cover all of r.
bool CoveredBy(const RECT& r, const std::vector<RECT>& covers) {
  std::vector<RECT> left{r};
  for (const RECT& c : covers) {
    std::vector<RECT> next;
    for (const RECT& p : left) {
      RECT in;
      if (!IntersectRect(&in, &p, &c)) {
        next.push_back(p);
        continue;
      }
      // What of p lies outside c: above, below, then left and right of it.
      if (p.top < in.top) next.push_back({p.left, p.top, p.right, in.top});
      if (in.bottom < p.bottom) next.push_back({p.left, in.bottom, p.right, p.bottom});
      if (p.left < in.left) next.push_back({p.left, in.top, in.left, in.bottom});
      if (in.right < p.right) next.push_back({in.right, in.top, p.right, in.bottom});
    }
    left.swap(next);
    if (left.empty()) return true;
  }
  return false;
}

}  // namespace

bool qk::user::ShowsNow(HWND hwnd, const RECT* area) {
  auto w = Find(hwnd);
  if (!w || w->destroying || !IsWindowVisible(hwnd)) return false;
  HWND top = TopLevelOf(hwnd);
  if (top && IsMinimized(top)) return false;
  RECT client, part, screen;
  if (!GetClientRect(hwnd, &client)) return false;
  if (area) {
    if (!IntersectRect(&part, area, &client)) return false;
  } else {
    part = client;
    if (IsRectEmpty(&part)) return false;
  }
  if (!GetWindowRect(hwnd, &screen)) return false;
  OffsetRect(&part, screen.left, screen.top);
  return !CoveredBy(part, WindowsAbove(hwnd));
}

bool qk::user::TakePaintDebt(HWND hwnd, PaintDebt* debt) {
  auto w = Find(hwnd);
  if (!w) return false;
  std::lock_guard<std::mutex> lock(w->queue->lock);
  auto it = w->queue->paintOwed.find(hwnd);
  if (it == w->queue->paintOwed.end()) return false;
  if (debt) *debt = it->second;
  w->queue->paintOwed.erase(it);
  return true;
}

namespace {

void ExposeIn(HWND hwnd, const RECT& area, HWND gone) {
  auto w = Find(hwnd);
  if (hwnd == gone || !w || w->destroying || !(w->style & WS_VISIBLE)) return;
  RECT r;
  if (!GetWindowRect(hwnd, &r)) return;
  if (std::max(r.left, area.left) >= std::min(r.right, area.right) ||
      std::max(r.top, area.top) >= std::min(r.bottom, area.bottom))
    return;
  InvalidateTree(hwnd);
}

// A window went from the screen (hidden or destroyed): the windows it
// covered in area (screen co-ordinates) are owed their painting, so that
// what was beneath a closed popup or dialog shows again.
void Expose(const RECT& area, HWND gone) {
  if (area.left >= area.right || area.top >= area.bottom) return;
  for (HWND top : ZOrderedTopLevels()) ExposeIn(top, area, gone);
}

}  // namespace

// Destroys the window with its children and owned windows: the activation
// and the focus leave it first, then WM_DESTROY goes to each window of the
// tree (parents first) and WM_NCDESTROY (children first); each stays a
// window until its WM_NCDESTROY has returned.
BOOL DestroyWindow(HWND hwnd) {
  auto w = Find(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (w->queue != CurrentQueue()) {
    // Only the window's own thread may destroy it.
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (w->destroying.exchange(true)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  bool topLevel = IsTopLevel(*w);
  RECT area{};
  bool shown = IsWindowVisible(hwnd) && GetWindowRect(hwnd, &area);
  // Owned windows go first; those of another thread lose their owner.
  std::vector<HWND> owned;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    for (auto& [index, other] : g_windows) {
      if (other->owner != hwnd || other->destroying) continue;
      if (other->queue == w->queue)
        owned.push_back(other->hwnd);
      else
        other->owner = nullptr;
    }
  }
  for (HWND o : owned) DestroyWindow(o);
  if (topLevel) {
    {
      std::lock_guard<std::mutex> lock(g_lock);
      g_zorder.erase(std::remove(g_zorder.begin(), g_zorder.end(), hwnd), g_zorder.end());
    }
    if (GetActiveWindow() == hwnd) Activate(NextActive(hwnd), WA_ACTIVE);
  }
  HWND focus = GetFocus();
  if (focus && (focus == hwnd || IsChild(hwnd, focus))) {
    auto parent = w->parent ? Find(w->parent) : nullptr;
    SetFocus(parent && !parent->destroying ? parent->hwnd : nullptr);
  }
  std::vector<HWND> tree;
  Tree(hwnd, &tree);
  for (HWND h : tree) {
    auto member = Find(h);
    if (!member) continue;
    member->destroying = true;
    CallProc(h, WM_DESTROY, 0, 0);
  }
  for (auto it = tree.rbegin(); it != tree.rend(); ++it) {
    auto member = Find(*it);
    if (!member) continue;
    CallProc(*it, WM_NCDESTROY, 0, 0);
    if (auto hook = g_destroyHook.load()) hook(*it);
    Forget(member);
  }
  if (topLevel) BusWindowsChanged();
  if (shown) Expose(area, hwnd);
  return TRUE;
}

BOOL IsWindow(HWND hwnd) {
  if (!hwnd) return FALSE;
  if (IsLocalHandle(hwnd)) {
    return Find(hwnd) ? TRUE : FALSE;
  }
  return BusIsWindow(hwnd) ? TRUE : FALSE;
}

LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_SETTEXT: {
      auto w = Find(hwnd);
      if (!w) return FALSE;
      {
        std::lock_guard<std::mutex> lock(g_lock);
        w->text = lParam ? reinterpret_cast<LPCWSTR>(lParam) : u"";
      }
      if (IsTopLevel(*w)) BusWindowsChanged();
      return TRUE;
    }
    case WM_GETTEXT: {
      auto w = Find(hwnd);
      auto* out = reinterpret_cast<LPWSTR>(lParam);
      if (!w || !out || wParam == 0) return 0;
      std::lock_guard<std::mutex> lock(g_lock);
      size_t n = std::min(w->text.size(), static_cast<size_t>(wParam) - 1);
      std::memcpy(out, w->text.data(), n * sizeof(char16_t));
      out[n] = 0;
      return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH: {
      auto w = Find(hwnd);
      if (!w) return 0;
      std::lock_guard<std::mutex> lock(g_lock);
      return static_cast<LRESULT>(w->text.size());
    }
    case WM_PAINT: {
      // Painting nothing still erases: WM_ERASEBKGND reaches the window.
      PAINTSTRUCT ps;
      if (BeginPaint(hwnd, &ps))
        EndPaint(hwnd, &ps);
      else
        ValidateRect(hwnd, nullptr);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && !HIWORD(wParam)) SetFocus(hwnd);
      return 0;
    default:
      return 0;
  }
}

LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(hwnd, msg, wParam, lParam) : 0;
}

LONG_PTR GetWindowLongW(HWND hwnd, int index) {
  auto w = Find(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  std::lock_guard<std::mutex> lock(g_lock);
  switch (index) {
    case GWL_WNDPROC:
      return reinterpret_cast<LONG_PTR>(w->proc);
    case GWL_HINSTANCE:
      return reinterpret_cast<LONG_PTR>(w->instance);
    case GWL_HWNDPARENT:
      return reinterpret_cast<LONG_PTR>(w->parent ? w->parent : w->owner);
    case GWL_ID:
      return w->id;
    case GWL_STYLE:
      return static_cast<LONG_PTR>(w->style);
    case GWL_EXSTYLE:
      return static_cast<LONG_PTR>(w->exStyle);
    case GWL_USERDATA:
      return w->userData;
    default:
      if (index >= 0 && static_cast<size_t>(index) + sizeof(LONG_PTR) <= w->extra.size()) {
        LONG_PTR v;
        std::memcpy(&v, w->extra.data() + index, sizeof v);
        return v;
      }
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
  }
}

LONG_PTR SetWindowLongW(HWND hwnd, int index, LONG_PTR value) {
  auto w = Find(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  std::lock_guard<std::mutex> lock(g_lock);
  LONG_PTR old = 0;
  switch (index) {
    case GWL_WNDPROC:
      old = reinterpret_cast<LONG_PTR>(w->proc);
      w->proc = reinterpret_cast<WNDPROC>(value);
      return old;
    case GWL_ID:
      old = w->id;
      w->id = value;
      return old;
    case GWL_STYLE:
      old = static_cast<LONG_PTR>(w->style);
      w->style = static_cast<DWORD>(value);
      return old;
    case GWL_EXSTYLE:
      old = static_cast<LONG_PTR>(w->exStyle);
      w->exStyle = static_cast<DWORD>(value);
      return old;
    case GWL_USERDATA:
      old = w->userData;
      w->userData = value;
      return old;
    default:
      if (index >= 0 && static_cast<size_t>(index) + sizeof(LONG_PTR) <= w->extra.size()) {
        std::memcpy(&old, w->extra.data() + index, sizeof old);
        std::memcpy(w->extra.data() + index, &value, sizeof value);
        return old;
      }
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
  }
}

HWND FindWindowW(LPCWSTR className, LPCWSTR title) {
  std::u16string cls = className ? Lower(className) : u"";
  std::u16string text = title ? Lower(title) : u"";
  for (auto& info : LocalTopLevelInfo()) {
    if (className && Lower(info.className) != cls) continue;
    if (title && Lower(info.text) != text) continue;
    return info.hwnd;
  }
  return BusFindWindow(className, title);
}

BOOL EnumWindows(WNDENUMPROC proc, LPARAM lParam) {
  if (!proc) return FALSE;
  for (auto& info : LocalTopLevelInfo())
    if (!proc(info.hwnd, lParam)) return TRUE;
  for (auto& info : BusTopLevelWindows())
    if (!proc(info.hwnd, lParam)) return TRUE;
  return TRUE;
}

std::u16string qk::WindowProgramFile(HWND hwnd) {
  if (!hwnd) return std::u16string();
  if (IsLocalHandle(hwnd)) return Find(hwnd) ? qk::ProgramFolder() + u"\\" + qk::ProgramName() : std::u16string();
  return BusIsWindow(hwnd) ? BusProgramPath(HandleProcess(hwnd)) : std::u16string();
}

DWORD GetWindowThreadProcessId(HWND hwnd, LPDWORD processId) {
  if (processId) *processId = HandleProcess(hwnd);
  auto w = Find(hwnd);
  return w ? w->queue->tid : 0;
}

HWND GetParent(HWND hwnd) {
  auto w = Find(hwnd);
  if (!w) return nullptr;
  return w->parent ? w->parent : w->owner;
}

HWND SetParent(HWND hwnd, HWND parent) {
  auto w = Find(hwnd);
  if (!w) return nullptr;
  auto p = parent ? Find(parent) : nullptr;
  if (parent && !p) return nullptr;
  HWND old;
  bool wasTop;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    old = w->parent;
    wasTop = IsTopLevel(*w);
    if (old) {
      auto it = g_windows.find(LocalIndex(old));
      if (it != g_windows.end()) {
        auto& siblings = it->second->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), hwnd), siblings.end());
      }
    }
    w->parent = parent;
    if (p) {
      w->style |= WS_CHILD;
      p->children.push_back(hwnd);
    } else {
      w->style &= ~static_cast<DWORD>(WS_CHILD);
    }
  }
  if (wasTop != IsTopLevel(*w)) BusWindowsChanged();
  return old;
}

HWND GetWindow(HWND hwnd, UINT relation) {
  auto w = Find(hwnd);
  if (!w) return nullptr;
  std::lock_guard<std::mutex> lock(g_lock);
  if (relation == GW_CHILD) return w->children.empty() ? nullptr : w->children.front();
  if (relation == GW_OWNER) return w->owner;
  if (!w->parent) return nullptr;
  auto it = g_windows.find(LocalIndex(w->parent));
  if (it == g_windows.end()) return nullptr;
  auto& siblings = it->second->children;
  auto pos = std::find(siblings.begin(), siblings.end(), hwnd);
  switch (relation) {
    case GW_HWNDFIRST:
      return siblings.front();
    case GW_HWNDLAST:
      return siblings.back();
    case GW_HWNDNEXT:
      return (pos == siblings.end() || pos + 1 == siblings.end()) ? nullptr : *(pos + 1);
    case GW_HWNDPREV:
      return (pos == siblings.begin() || pos == siblings.end()) ? nullptr : *(pos - 1);
    default:
      return nullptr;
  }
}

BOOL IsChild(HWND parent, HWND hwnd) {
  for (HWND p = GetParent(hwnd); p; p = GetParent(p)) {
    auto w = Find(p);
    if (p == parent) return TRUE;
    if (!w || !(w->style & WS_CHILD)) break;
  }
  return FALSE;
}

HWND GetDlgItem(HWND dialog, int id) {
  auto w = Find(dialog);
  if (!w) return nullptr;
  std::lock_guard<std::mutex> lock(g_lock);
  for (HWND child : w->children) {
    auto it = g_windows.find(LocalIndex(child));
    if (it != g_windows.end() && it->second->id == id) return child;
  }
  return nullptr;
}

int GetDlgCtrlID(HWND hwnd) { return static_cast<int>(GetWindowLongW(hwnd, GWL_ID)); }

BOOL SetWindowTextW(HWND hwnd, LPCWSTR text) {
  // Another program's window takes WM_SETTEXT over the bus.
  if (!Find(hwnd) && (!hwnd || IsLocalHandle(hwnd) || !BusIsWindow(hwnd))) return FALSE;
  return SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : u"")) ? TRUE : FALSE;
}

int GetWindowTextW(HWND hwnd, LPWSTR text, int cch) {
  if (!text || cch <= 0) return 0;
  text[0] = 0;
  // Another program's window answers over the bus.
  if (!Find(hwnd) && (!hwnd || IsLocalHandle(hwnd))) return 0;
  return static_cast<int>(SendMessageW(hwnd, WM_GETTEXT, static_cast<WPARAM>(cch), reinterpret_cast<LPARAM>(text)));
}

int GetWindowTextLengthW(HWND hwnd) { return static_cast<int>(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0)); }

BOOL ShowWindow(HWND hwnd, int command) {
  auto w = Find(hwnd);
  if (!w) return FALSE;
  bool was, wasMinimized;
  bool show = command != SW_HIDE && command != SW_MINIMIZE;
  bool wasShown = IsWindowVisible(hwnd);
  RECT area{};
  GetWindowRect(hwnd, &area);
  {
    std::lock_guard<std::mutex> lock(g_lock);
    was = (w->style & WS_VISIBLE) != 0;
    wasMinimized = (w->style & WS_MINIMIZE) != 0;
    if (show)
      w->style |= WS_VISIBLE;
    else
      w->style &= ~static_cast<DWORD>(WS_VISIBLE);
    if (command == SW_MINIMIZE || command == SW_SHOWMINIMIZED)
      w->style |= WS_MINIMIZE;
    else if (show)
      w->style &= ~static_cast<DWORD>(WS_MINIMIZE);
  }
  if (was != show) {
    CallProc(hwnd, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    // Nothing was painted while it was hidden: the windows inside it too.
    if (show)
      InvalidateTree(hwnd);
    else if (wasShown)
      Expose(area, hwnd);
  } else if (show && wasMinimized && !IsMinimized(hwnd)) {
    // Restored from a minimised show: nothing was painted meanwhile.
    InvalidateTree(hwnd);
  }
  if (IsTopLevel(*w) && Find(hwnd)) {
    bool activates = command == SW_SHOW || command == SW_SHOWNORMAL || command == SW_RESTORE ||
                     command == SW_MAXIMIZE;
    if (show && activates && !(w->exStyle & WS_EX_NOACTIVATE) && !(w->style & WS_DISABLED))
      Activate(hwnd, WA_ACTIVE);
    else if (!show || command == SW_SHOWMINIMIZED)
      ActivateNextIfActive(hwnd);
  } else if (!show && Find(hwnd)) {
    // A hidden control gives the focus back to its parent.
    HWND focus = GetFocus();
    if (focus == hwnd || IsChild(hwnd, focus)) SetFocus(w->parent);
  }
  return was ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd) {
  for (auto w = Find(hwnd); w; w = w->parent ? Find(w->parent) : nullptr) {
    if (!(w->style & WS_VISIBLE)) return FALSE;
    if (!w->parent) return TRUE;
  }
  return FALSE;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  auto w = Find(hwnd);
  if (!w) return FALSE;
  bool wasDisabled;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    wasDisabled = (w->style & WS_DISABLED) != 0;
    if (enable)
      w->style &= ~static_cast<DWORD>(WS_DISABLED);
    else
      w->style |= WS_DISABLED;
  }
  if (!enable && !wasDisabled) {
    // A disabled window keeps neither the focus nor, at the top, the activation.
    HWND focus = GetFocus();
    if (focus == hwnd || IsChild(hwnd, focus)) SetFocus(nullptr);
  }
  if (wasDisabled == (enable != FALSE)) CallProc(hwnd, WM_ENABLE, enable, 0);
  return wasDisabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hwnd) {
  auto w = Find(hwnd);
  return w && !(w->style & WS_DISABLED);
}

BOOL SetWindowPos(HWND hwnd, HWND after, int x, int y, int width, int height, UINT flags) {
  auto w = Find(hwnd);
  if (!w) return FALSE;
  bool sized = false, moved = false, wasVisible = false;
  bool wasShown = IsWindowVisible(hwnd);
  RECT oldArea{};
  GetWindowRect(hwnd, &oldArea);
  RECT r;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    r = w->rect;
    if (!(flags & SWP_NOMOVE)) {
      moved = r.left != x || r.top != y;
      r.right += x - r.left;
      r.bottom += y - r.top;
      r.left = x;
      r.top = y;
    }
    if (!(flags & SWP_NOSIZE)) {
      sized = (r.right - r.left) != width || (r.bottom - r.top) != height;
      r.right = r.left + width;
      r.bottom = r.top + height;
    }
    w->rect = r;
    wasVisible = (w->style & WS_VISIBLE) != 0;
    if (flags & SWP_SHOWWINDOW) w->style |= WS_VISIBLE;
    if (flags & SWP_HIDEWINDOW) w->style &= ~static_cast<DWORD>(WS_VISIBLE);
  }
  if (!(flags & SWP_NOZORDER) && IsTopLevel(*w)) {
    std::lock_guard<std::mutex> lock(g_lock);
    if (after == HWND_TOPMOST) w->exStyle |= WS_EX_TOPMOST;
    if (after == HWND_NOTOPMOST) w->exStyle &= ~static_cast<DWORD>(WS_EX_TOPMOST);
    if (after == HWND_BOTTOM) {
      g_zorder.erase(std::remove(g_zorder.begin(), g_zorder.end(), hwnd), g_zorder.end());
      g_zorder.push_back(hwnd);
    } else if (after == HWND_TOP || after == HWND_TOPMOST || after == HWND_NOTOPMOST) {
      Raise(hwnd);
    }
  }
  if (moved) CallProc(hwnd, WM_MOVE, 0, MAKELPARAM(r.left, r.top));
  if (sized) CallProc(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(r.right - r.left, r.bottom - r.top));
  bool shown = !wasVisible && (flags & SWP_SHOWWINDOW);
  if ((moved || sized || shown) && !(flags & SWP_NOREDRAW)) InvalidateTree(hwnd);
  // What it covered and covers no more shows again: the area it left when
  // hidden, moved or shrunk.
  bool shrunk = sized && (r.right - r.left < oldArea.right - oldArea.left || r.bottom - r.top < oldArea.bottom - oldArea.top);
  if (wasShown && ((flags & SWP_HIDEWINDOW) || moved || shrunk) && !(flags & SWP_NOREDRAW)) Expose(oldArea, hwnd);
  // Showing a top-level window activates it unless told not to; hiding the
  // active one passes the activation on.
  if (IsTopLevel(*w) && Find(hwnd)) {
    if ((flags & SWP_SHOWWINDOW) && !(flags & SWP_NOACTIVATE) && !(w->exStyle & WS_EX_NOACTIVATE) &&
        !(w->style & WS_DISABLED))
      Activate(hwnd, WA_ACTIVE);
    else if (flags & SWP_HIDEWINDOW)
      ActivateNextIfActive(hwnd);
  }
  return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height, SWP_NOZORDER | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL GetWindowRect(HWND hwnd, LPRECT rect) {
  auto w = Find(hwnd);
  if (!w || !rect) return FALSE;
  RECT r;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    r = w->rect;
  }
  POINT origin{0, 0};
  if (w->parent) ClientToScreen(w->parent, &origin);
  *rect = RECT{r.left + origin.x, r.top + origin.y, r.right + origin.x, r.bottom + origin.y};
  return TRUE;
}

BOOL GetClientRect(HWND hwnd, LPRECT rect) {
  auto w = Find(hwnd);
  if (!w || !rect) return FALSE;
  std::lock_guard<std::mutex> lock(g_lock);
  *rect = RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  return TRUE;
}

BOOL ClientToScreen(HWND hwnd, LPPOINT point) {
  RECT r;
  if (!point || !GetWindowRect(hwnd, &r)) return FALSE;
  point->x += r.left;
  point->y += r.top;
  return TRUE;
}

BOOL ScreenToClient(HWND hwnd, LPPOINT point) {
  RECT r;
  if (!point || !GetWindowRect(hwnd, &r)) return FALSE;
  point->x -= r.left;
  point->y -= r.top;
  return TRUE;
}

// The window's update area grows by rect (its whole client area when null)
// and stays one rectangle: the bounding rectangle of what was invalidated.
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
  auto w = Find(hwnd);
  if (!w) return FALSE;
  RECT client, area;
  GetClientRect(hwnd, &client);
  if (rect ? !IntersectRect(&area, rect, &client) : IsRectEmpty(&client)) return TRUE;
  if (!rect) area = client;
  {
    std::lock_guard<std::mutex> lock(w->queue->lock);
    auto [it, made] = w->queue->paintOwed.try_emplace(hwnd);
    PaintDebt& debt = it->second;
    if (made)
      debt.area = area;
    else
      UnionRect(&debt.area, &debt.area, &area);
    debt.erase = debt.erase || erase;
    // A debt whose WM_PAINT is out but not begun is painted with the new
    // part when it begins, or owed again.
    debt.given = false;
    Touched(*w->queue);
  }
  Wake(*w->queue);
  return TRUE;
}

BOOL ValidateRect(HWND hwnd, const RECT* rect) {
  auto w = Find(hwnd);
  if (!w) return FALSE;
  std::lock_guard<std::mutex> lock(w->queue->lock);
  auto it = w->queue->paintOwed.find(hwnd);
  if (it == w->queue->paintOwed.end()) return TRUE;
  // The area stays one rectangle: a rect that takes off a whole side of it
  // shrinks it, any other leaves it as it is, and one that holds it all
  // pays the debt.
  RECT& a = it->second.area;
  if (rect) {
    const RECT& v = *rect;
    bool spansX = v.left <= a.left && v.right >= a.right, spansY = v.top <= a.top && v.bottom >= a.bottom;
    if (spansX && v.top <= a.top && v.bottom > a.top) a.top = std::min(v.bottom, a.bottom);
    else if (spansX && v.bottom >= a.bottom && v.top < a.bottom) a.bottom = std::max(v.top, a.top);
    else if (spansY && v.left <= a.left && v.right > a.left) a.left = std::min(v.right, a.right);
    else if (spansY && v.right >= a.right && v.left < a.right) a.right = std::max(v.left, a.left);
  }
  if (!rect || IsRectEmpty(&a)) w->queue->paintOwed.erase(it);
  return TRUE;
}

BOOL GetUpdateRect(HWND hwnd, LPRECT rect, BOOL) {
  auto w = Find(hwnd);
  if (!w) return FALSE;
  bool owed;
  RECT area{0, 0, 0, 0};
  {
    std::lock_guard<std::mutex> lock(w->queue->lock);
    auto it = w->queue->paintOwed.find(hwnd);
    owed = it != w->queue->paintOwed.end();
    if (owed) area = it->second.area;
  }
  if (rect) *rect = area;
  return owed ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND hwnd) {
  auto w = Find(hwnd);
  if (!w) return FALSE;
  // A window that cannot be seen now is painted when it shows, not now.
  RECT area;
  if (GetUpdateRect(hwnd, &area, FALSE) && qk::user::ShowsNow(hwnd, &area)) SendMessageW(hwnd, WM_PAINT, 0, 0);
  return TRUE;
}

HWND SetFocus(HWND hwnd) {
  if (hwnd && !Find(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  if (hwnd) {
    // The focus lies in the active window: its top-level window is activated first.
    HWND top = TopLevelOf(hwnd);
    if (top && GetActiveWindow() != top) {
      // A window held disabled under a modal dialog or message box does
      // not take the activation from it.
      if (!IsWindowEnabled(top)) return nullptr;
      Activate(top, WA_ACTIVE);
      if (!Find(hwnd)) return nullptr;
    }
  }
  HWND old;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    old = g_focus;
    g_focus = hwnd;
  }
  if (old == hwnd) return old;
  if (old && IsWindow(old)) SendNotifyMessageW(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  if (hwnd && GetFocus() == hwnd) SendNotifyMessageW(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
  return old;
}

HWND GetFocus() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_focus;
}

BOOL SetForegroundWindow(HWND hwnd) {
  // Callers may mark the handle in its lowest bit (bring owned windows too).
  hwnd = reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(hwnd) & ~static_cast<uintptr_t>(1));
  if (!IsWindow(hwnd)) return FALSE;
  if (!IsLocalHandle(hwnd)) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_foreground = hwnd;
    return TRUE;
  }
  HWND top = TopLevelOf(hwnd);
  if (!top) return FALSE;
  Activate(top, WA_ACTIVE);
  return TRUE;
}

HWND GetForegroundWindow() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_foreground;
}

HWND GetActiveWindow() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_active;
}

HWND SetActiveWindow(HWND hwnd) {
  if (hwnd && !Find(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  HWND old = GetActiveWindow();
  Activate(hwnd ? TopLevelOf(hwnd) : nullptr, WA_ACTIVE);
  return old;
}

HWND SetCapture(HWND hwnd) {
  std::lock_guard<std::mutex> lock(g_lock);
  HWND old = g_capture;
  g_capture = hwnd;
  return old;
}

BOOL ReleaseCapture() {
  HWND old;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    old = g_capture;
    g_capture = nullptr;
  }
  if (old && IsWindow(old)) SendMessageW(old, WM_CAPTURECHANGED, 0, 0);
  return TRUE;
}

HWND GetCapture() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_capture;
}

int GetSystemMetrics(int index) {
  // Scroll bars are as wide as the controls draw them.
  if (index == SM_CXVSCROLL || index == SM_CYHSCROLL) return 13 * qk::gdi::ScreenDpi() / 96;
  std::lock_guard<std::mutex> lock(g_lock);
  if (index == SM_CXSCREEN) return g_screenWidth;
  if (index == SM_CYSCREEN) return g_screenHeight;
  return 0;
}

// ---------------------------------------------------------------- messages

// The queue is empty: runs the idle hook outside the lock, then waits for
// more unless the hook queued something.
static void IdleThenWait(const std::shared_ptr<ThreadQueue>& q, std::unique_lock<std::mutex>& lock) {
  uint64_t before = q->activity.load();
  lock.unlock();
  DWORD ms = qk::RunIdleHook();
  lock.lock();
  if (q->activity.load() != before) return;
  WaitForMore(q, lock, ms == INFINITE ? kForever : std::chrono::steady_clock::now() + std::chrono::milliseconds(ms));
}

// The program's end (see qk::RequestProgramEnd): none, requested (the UI
// thread's loops end) or taken (the Exit steps run; the loops work again).
namespace {
enum : int { kNoEnd, kEndRequested, kEndTaken };
std::atomic<int> g_endState{kNoEnd};
std::atomic<DWORD> g_endThread{0};

bool EndingHere() { return g_endState.load() == kEndRequested && g_endThread.load() == GetCurrentThreadId(); }
}  // namespace

BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT first, UINT last) {
  if (!msg) return -1;
  auto quitForEnd = [msg] {
    *msg = MSG{};
    msg->message = WM_QUIT;
    return FALSE;
  };
  if (EndingHere()) return quitForEnd();
  // A filter window must be one of this thread's: nothing else could come.
  auto target = hwnd ? Find(hwnd) : nullptr;
  if (hwnd && (!target || target->queue != CurrentQueue())) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  auto q = CurrentQueue();
  std::unique_lock<std::mutex> lock(q->lock);
  while (!NextMessage(q, msg, hwnd, first, last, true, lock)) {
    if (hwnd && !Find(hwnd)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return -1;
    }
    // An end asked for since the look at the top (a sent message handled
    // just now may have asked for it) is seen before the sleep: its wake-up
    // has already come and gone.
    if (EndingHere()) return quitForEnd();
    IdleThenWait(q, lock);
    if (EndingHere()) return quitForEnd();
  }
  return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT first, UINT last, UINT remove) {
  if (!msg) return FALSE;
  auto q = CurrentQueue();
  std::unique_lock<std::mutex> lock(q->lock);
  return NextMessage(q, msg, hwnd, first, last, (remove & PM_REMOVE) != 0, lock) ? TRUE : FALSE;
}

BOOL WaitMessage() {
  auto q = CurrentQueue();
  std::unique_lock<std::mutex> lock(q->lock);
  MSG m;
  while (!NextMessage(q, &m, nullptr, 0, 0, false, lock)) IdleThenWait(q, lock);
  return TRUE;
}

LRESULT DispatchMessageW(const MSG* msg) {
  if (!msg || !msg->hwnd) {
    if (msg && msg->message == WM_TIMER && msg->lParam)
      reinterpret_cast<TIMERPROC>(msg->lParam)(nullptr, WM_TIMER, msg->wParam, msg->time);
    return 0;
  }
  if (msg->message == WM_TIMER && msg->lParam) {
    reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
    return 0;
  }
  return CallProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

namespace {

// The character a key makes on the device's keyboard (US layout), or 0.
char16_t KeyCharacter(WPARAM vk, bool shift) {
  if (vk >= 'A' && vk <= 'Z') return static_cast<char16_t>(shift ? vk : vk + ('a' - 'A'));
  if (vk >= '0' && vk <= '9') return static_cast<char16_t>(shift ? u")!@#$%^&*("[vk - '0'] : vk);
  if (vk >= 0x60 && vk <= 0x69) return static_cast<char16_t>(u'0' + (vk - 0x60));  // number pad
  switch (vk) {
    case VK_BACK:
    case VK_TAB:
    case VK_RETURN:
    case VK_ESCAPE:
    case VK_SPACE:
      return static_cast<char16_t>(vk);
    case 0x6A: return u'*';
    case 0x6B: return u'+';
    case 0x6D: return u'-';
    case 0x6E: return u'.';
    case 0x6F: return u'/';
    case 0xBA: return shift ? u':' : u';';
    case 0xBB: return shift ? u'+' : u'=';
    case 0xBC: return shift ? u'<' : u',';
    case 0xBD: return shift ? u'_' : u'-';
    case 0xBE: return shift ? u'>' : u'.';
    case 0xBF: return shift ? u'?' : u'/';
    case 0xC0: return shift ? u'~' : u'`';
    case 0xDB: return shift ? u'{' : u'[';
    case 0xDC: return shift ? u'|' : u'\\';
    case 0xDD: return shift ? u'}' : u']';
    case 0xDE: return shift ? u'"' : u'\'';
    default:
      return 0;
  }
}

}  // namespace

// A key-down that makes a character is followed by WM_CHAR with it, next
// in the queue; not a key whose characters come on their own (user/input.h).
BOOL TranslateMessage(const MSG* msg) {
  if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN) || !msg->hwnd) return FALSE;
  if (msg->lParam & qk::kKeyMessageCharactersApart) return FALSE;
  if (GetKeyState(VK_CONTROL) & 0x8000) return FALSE;
  char16_t c = KeyCharacter(msg->wParam, (GetKeyState(VK_SHIFT) & 0x8000) != 0);
  if (!c) return FALSE;
  return PostFront(msg->hwnd, msg->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR, c, msg->lParam) ? TRUE : FALSE;
}

BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (hwnd == HWND_BROADCAST) {
    for (HWND top : LocalTopLevelWindows()) {
      auto w = Find(top);
      if (w) PostLocal(w->queue, MSG{top, msg, wParam, lParam, 0, {0, 0}});
    }
    BusPost(HWND_BROADCAST, msg, wParam, lParam);
    return TRUE;
  }
  if (!hwnd) return PostThreadMessageW(GetCurrentThreadId(), msg, wParam, lParam);
  if (!IsLocalHandle(hwnd)) return BusPost(hwnd, msg, wParam, lParam) ? TRUE : FALSE;
  auto w = Find(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return PostLocal(w->queue, MSG{hwnd, msg, wParam, lParam, 0, {0, 0}});
}

void qk::WakeIdle(DWORD threadId) {
  std::shared_ptr<ThreadQueue> q;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_queues.find(threadId);
    if (it != g_queues.end()) q = it->second;
  }
  if (!q) return;
  {
    std::lock_guard<std::mutex> lock(q->lock);
    Touched(*q);
  }
  Wake(*q);
}

BOOL PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<ThreadQueue> q;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_queues.find(threadId);
    if (it != g_queues.end()) q = it->second;
  }
  if (!q) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return PostLocal(q, MSG{nullptr, msg, wParam, lParam, 0, {0, 0}});
}

// Queues msg to the thread of hwnd's window as a sent message; `waiter`,
// when given, is the sending thread, woken when the message is handled.
static std::shared_ptr<SentMessage> QueueSent(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                              std::shared_ptr<ThreadQueue> waiter) {
  auto sm = std::make_shared<SentMessage>();
  sm->hwnd = hwnd;
  sm->msg = msg;
  sm->wParam = wParam;
  sm->lParam = lParam;
  sm->waiter = std::move(waiter);
  Enqueue(sm);
  return sm;
}

static bool SendLocal(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, DWORD timeoutMs, LRESULT* result) {
  auto w = Find(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (w->queue == CurrentQueue()) {
    *result = CallProc(hwnd, msg, wParam, lParam);
    return true;
  }
  auto sm = QueueSent(hwnd, msg, wParam, lParam, CurrentQueue());
  if (!WaitSent(sm, timeoutMs)) {
    SetLastError(ERROR_TIMEOUT);
    return false;
  }
  std::lock_guard<std::mutex> lock(sm->waiter->lock);
  *result = sm->result;
  return true;
}

LRESULT SendMessageTimeoutW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT, UINT timeoutMs,
                            DWORD_PTR* result) {
  LRESULT r = 0;
  bool ok;
  if (hwnd == HWND_BROADCAST) {
    for (HWND top : LocalTopLevelWindows()) SendLocal(top, msg, wParam, lParam, timeoutMs, &r);
    BusSend(HWND_BROADCAST, msg, wParam, lParam, timeoutMs, &r);
    ok = true;
    r = 0;
  } else if (hwnd && !IsLocalHandle(hwnd)) {
    ok = BusSend(hwnd, msg, wParam, lParam, timeoutMs, &r);
  } else {
    ok = SendLocal(hwnd, msg, wParam, lParam, timeoutMs, &r);
  }
  if (result) *result = static_cast<DWORD_PTR>(r);
  return ok ? TRUE : FALSE;
}

BOOL SendNotifyMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (hwnd == HWND_BROADCAST || (hwnd && !IsLocalHandle(hwnd))) return PostMessageW(hwnd, msg, wParam, lParam);
  auto w = Find(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (w->queue == CurrentQueue()) {
    CallProc(hwnd, msg, wParam, lParam);
    return TRUE;
  }
  // Queued as a sent message that nobody waits for.
  QueueSent(hwnd, msg, wParam, lParam, nullptr);
  return TRUE;
}

LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT r = 0;
  if (hwnd == HWND_BROADCAST) {
    for (HWND top : LocalTopLevelWindows()) SendLocal(top, msg, wParam, lParam, INFINITE, &r);
    BusSend(HWND_BROADCAST, msg, wParam, lParam, kRemoteSendTimeoutMs, &r);
    return 0;
  }
  if (hwnd && !IsLocalHandle(hwnd)) {
    BusSend(hwnd, msg, wParam, lParam, kRemoteSendTimeoutMs, &r);
    return r;
  }
  SendLocal(hwnd, msg, wParam, lParam, INFINITE, &r);
  return r;
}

void PostQuitMessage(int exitCode) {
  auto q = CurrentQueue();
  {
    std::lock_guard<std::mutex> lock(q->lock);
    q->quit = true;
    q->quitCode = exitCode;
    Touched(*q);
  }
  Wake(*q);
}

BOOL InSendMessage() { return CurrentQueue()->inSend > 0 ? TRUE : FALSE; }

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
  std::shared_ptr<ThreadQueue> q;
  if (hwnd) {
    auto w = Find(hwnd);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    q = w->queue;
  } else {
    q = CurrentQueue();
    id = g_nextTimerId.fetch_add(1);
  }
  {
    std::lock_guard<std::mutex> lock(q->lock);
    Timer t{hwnd, id, elapseMs, proc, Now() + std::max<UINT>(elapseMs, 1)};
    auto it = std::find_if(q->timers.begin(), q->timers.end(),
                           [&](const Timer& x) { return x.hwnd == hwnd && x.id == id; });
    if (it != q->timers.end())
      *it = t;
    else
      q->timers.push_back(t);
    Touched(*q);
  }
  Wake(*q);
  return hwnd ? (id ? id : 1) : id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  std::shared_ptr<ThreadQueue> q;
  if (hwnd) {
    auto w = Find(hwnd);
    if (!w) return FALSE;
    q = w->queue;
  } else {
    q = CurrentQueue();
  }
  std::lock_guard<std::mutex> lock(q->lock);
  auto it = std::find_if(q->timers.begin(), q->timers.end(),
                         [&](const Timer& x) { return x.hwnd == hwnd && x.id == id; });
  if (it == q->timers.end()) return FALSE;
  q->timers.erase(it);
  // A WM_TIMER already taken from the queue is not recalled, as on the device.
  return TRUE;
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  qk::MessageBoxHook hook;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    hook = g_messageBoxHook;
  }
  if (hook) return hook(owner, text ? text : u"", caption ? caption : u"", type);
  // With the screen shown in a window a person answers the box; headless
  // there is nobody to ask, and the box answers its default button.
  if (qk::user::MessageBoxesShown()) return qk::user::ShowMessageBox(owner, text ? text : u"", caption ? caption : u"", type);
  return qk::user::DefaultMessageBoxAnswer(type);
}

BOOL MessageBeep(UINT) { return TRUE; }

namespace qk {

bool RunModalLoop(const std::function<bool()>& done, HWND dialog) {
  MSG msg;
  while (!done()) {
    if (!GetMessageW(&msg, nullptr, 0, 0)) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    if (PreTranslate(&msg)) continue;
    if (dialog && IsWindow(dialog) && IsDialogMessageW(dialog, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

bool RequestProgramEnd() {
  int none = kNoEnd;
  DWORD noThread = 0;
  g_endThread.compare_exchange_strong(noThread, GetCurrentThreadId());
  if (!g_endState.compare_exchange_strong(none, kEndRequested)) return false;
  std::shared_ptr<ThreadQueue> q;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_queues.find(g_endThread.load());
    if (it != g_queues.end()) q = it->second;
  }
  if (q) {
    // The UI thread's wait looks again and finds the end.
    {
      std::lock_guard<std::mutex> lock(q->lock);
      Touched(*q);
    }
    Wake(*q);
  }
  user::EndShownMessageBoxes();
  return true;
}

bool ProgramEndRequested() { return g_endState.load() != kNoEnd; }

void user::SetProgramEndThread() { g_endThread = GetCurrentThreadId(); }

bool TakeProgramEnd() {
  if (g_endThread.load() != GetCurrentThreadId()) return false;
  int requested = kEndRequested;
  return g_endState.compare_exchange_strong(requested, kEndTaken);
}

void SetPreTranslateHook(PreTranslateHook hook) { g_preTranslate = hook; }

bool PreTranslate(MSG* msg) {
  auto hook = g_preTranslate.load();
  return hook && msg && hook(msg);
}

void SetCreateHook(CreateHook hook) { g_createHook = hook; }
void SetDestroyHook(DestroyHook hook) { g_destroyHook = hook; }

void SetMessageBoxHook(MessageBoxHook hook) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_messageBoxHook = std::move(hook);
}

std::vector<RECT> WindowsAbove(HWND window) {
  std::vector<RECT> out;
  auto w = Find(window);
  if (!w) return out;
  // A window that cannot be seen (hidden, or inside a hidden window) puts
  // nothing on the screen: all of it counts as covered.
  if (!IsWindowVisible(window)) {
    RECT r;
    if (GetWindowRect(window, &r)) out.push_back(r);
    return out;
  }
  auto shownRect = [&](HWND h) {
    RECT r;
    if (IsWindowVisible(h) && GetWindowRect(h, &r) && r.left < r.right && r.top < r.bottom) out.push_back(r);
  };
  // Siblings above the window and above each of its parents.
  std::vector<HWND> above;
  HWND top = window;
  for (auto cur = w; cur; ) {
    if (IsTopLevel(*cur) || !cur->parent) {
      top = cur->hwnd;
      break;
    }
    auto parent = Find(cur->parent);
    if (!parent) break;
    {
      std::lock_guard<std::mutex> lock(g_lock);
      auto& siblings = parent->children;
      auto pos = std::find(siblings.begin(), siblings.end(), cur->hwnd);
      if (pos != siblings.end()) above.insert(above.end(), pos + 1, siblings.end());
    }
    cur = parent;
  }
  for (HWND h : above) shownRect(h);
  // Top-level windows above its own.
  for (HWND h : user::ZOrderedTopLevels()) {
    if (h == top) break;
    shownRect(h);
  }
  return out;
}

bool WindowShows(HWND window, const RECT* area) { return user::ShowsNow(window, area); }

bool InMinimizedWindow(HWND window) {
  HWND top = user::TopLevelOf(window);
  return top && user::IsMinimized(top);
}

uint64_t DrawingsOn(HWND window) {
  auto w = Find(window);
  if (!w) return 0;
  uint64_t n = gdi::WindowDCsMade(window);
  std::vector<HWND> children;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    children = w->children;
  }
  for (HWND child : children) n += DrawingsOn(child);
  return n;
}

int PumpMessages() {
  int handled = 0;
  auto q = CurrentQueue();
  for (;;) {
    MSG msg;
    {
      std::unique_lock<std::mutex> lock(q->lock);
      size_t sentBefore = q->sent.size();
      if (!NextMessage(q, &msg, nullptr, 0, 0, false, lock)) {
        handled += static_cast<int>(sentBefore);
        return handled;
      }
      if (msg.message == WM_QUIT) return handled;
      NextMessage(q, &msg, nullptr, 0, 0, true, lock);
    }
    ++handled;
    if (PreTranslate(&msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

bool PumpMessagesUntil(const std::function<bool()>& pred, DWORD timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto q = CurrentQueue();
  for (;;) {
    PumpMessages();
    if (pred()) return true;
    std::unique_lock<std::mutex> lock(q->lock);
    MSG m;
    if (NextMessage(q, &m, nullptr, 0, 0, false, lock) && m.message != WM_QUIT) continue;
    if (std::chrono::steady_clock::now() >= deadline) return pred();
    WaitForMore(q, lock, std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(50)));
  }
}

bool QuitPosted(int* exitCode) {
  auto q = CurrentQueue();
  std::lock_guard<std::mutex> lock(q->lock);
  if (q->quit && exitCode) *exitCode = q->quitCode;
  return q->quit;
}

uint64_t QueueChanges() { return CurrentQueue()->activity.load(); }

bool WaitForQueueChange(uint64_t seen, DWORD timeoutMs) {
  auto q = CurrentQueue();
  const auto deadline = timeoutMs == INFINITE ? kForever
                                              : std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> lock(q->lock);
  while (q->activity.load() == seen) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    SleepOn(*q, lock, deadline);
  }
  return true;
}

bool WaitForSentMessages(DWORD timeoutMs) {
  auto q = CurrentQueue();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> lock(q->lock);
  while (q->sent.empty()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    SleepOn(*q, lock, deadline);
  }
  return true;
}

void ClearQuit() {
  auto q = CurrentQueue();
  std::lock_guard<std::mutex> lock(q->lock);
  q->quit = false;
}

void SetDefaultWindowArea(std::function<RECT()> area) {
  std::lock_guard<std::mutex> lock(user::g_lock);
  user::g_defaultArea = std::move(area);
}

void SetScreenSize(int width, int height) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_screenWidth = width;
  g_screenHeight = height;
}

}  // namespace qk
