// Waits on one or several objects, and the watch on host processes that are
// not our children. See waitable.h for how a waiting thread sleeps.
#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "kernel/sync.h"
#include "kernel/waitable.h"

namespace qk {
namespace {

// Bumped by NotifyWaiters; every wait sleeps on it.
std::atomic<uint32_t> g_notifyWord{0};

timespec MonotonicNow() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

timespec AddMs(timespec t, DWORD ms) {
  t.tv_sec += ms / 1000;
  t.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (t.tv_nsec >= 1000000000L) {
    t.tv_sec += 1;
    t.tv_nsec -= 1000000000L;
  }
  return t;
}

bool Reached(const timespec& deadline) {
  timespec now = MonotonicNow();
  return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

struct Sleeper {
  WaitWord word;
  uint32_t value;
};

// Sleeps until one word differs from its value, a wake on one of them, the
// deadline (none: no time-out) or a signal.
void SleepOnWords(const std::vector<Sleeper>& words, const timespec* deadline) {
  futex_waitv waiters[FUTEX_WAITV_MAX] = {};
  size_t n = 0;
  for (const auto& w : words) {
    if (n == FUTEX_WAITV_MAX) break;
    waiters[n].val = w.value;
    waiters[n].uaddr = reinterpret_cast<uintptr_t>(w.word.word);
    waiters[n].flags = FUTEX_32 | (w.word.shared ? 0 : FUTEX_PRIVATE_FLAG);
    ++n;
  }
  // Woken (the answer is the index of the word), a word changed before the
  // sleep, the time-out, a signal: the caller looks again. Any other failure
  // means a host kernel without futex_waitv (before 5.16); a short nap then
  // keeps the wait from spinning.
  if (::syscall(SYS_futex_waitv, waiters, n, 0, deadline, CLOCK_MONOTONIC) < 0 && errno != EAGAIN &&
      errno != ETIMEDOUT && errno != EINTR) {
    timespec nap{0, 1000000L};
    ::nanosleep(&nap, nullptr);
  }
}

bool PidfdEnded(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

// One thread per process sleeps in poll() on the pidfds of the processes
// that objects asked to watch, and tells those objects when one ends.
class HostWatch {
 public:
  bool Watch(pid_t pid, uint32_t start, const std::shared_ptr<Waitable>& object) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = entries_.find(pid);
    if (it == entries_.end()) {
      int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
      if (fd < 0) {
        // Without a pidfd (out of descriptors) the process cannot be
        // watched; it is taken as alive unless it is plainly gone.
        return errno != ESRCH;
      }
      uint32_t actual = HostProcessStart(pid);
      // The start time read belongs to the pidfd's process only if that
      // process still runs after the read.
      if (PidfdEnded(fd)) {
        ::close(fd);
        return false;
      }
      it = entries_.emplace(pid, Entry{fd, actual, {}}).first;
      StartOrPoke();
    }
    Entry& entry = it->second;
    if (start != 0 && entry.start != 0 && entry.start != start) return false;
    for (auto& weak : entry.objects) {
      if (weak.lock() == object) return true;
    }
    std::erase_if(entry.objects, [](const std::weak_ptr<Waitable>& weak) { return weak.expired(); });
    entry.objects.push_back(object);
    return true;
  }

 private:
  struct Entry {
    int pidfd;
    uint32_t start;
    std::vector<std::weak_ptr<Waitable>> objects;
  };

  // Called with lock_ held.
  void StartOrPoke() {
    if (control_ < 0) {
      control_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
      std::thread([this] { Run(); }).detach();
      return;
    }
    uint64_t one = 1;
    if (::write(control_, &one, sizeof one) < 0) return;
  }

  void Run() {
    std::vector<pollfd> fds;
    std::vector<pid_t> pids;
    for (;;) {
      fds.clear();
      pids.clear();
      {
        std::lock_guard<std::mutex> guard(lock_);
        fds.push_back({control_, POLLIN, 0});
        for (auto& [pid, entry] : entries_) {
          fds.push_back({entry.pidfd, POLLIN, 0});
          pids.push_back(pid);
        }
      }
      if (::poll(fds.data(), fds.size(), -1) < 0) continue;
      if (fds[0].revents) {
        uint64_t count;
        while (::read(control_, &count, sizeof count) > 0) {
        }
      }
      struct Ended {
        pid_t pid;
        uint32_t start;
        std::vector<std::weak_ptr<Waitable>> objects;
      };
      std::vector<Ended> ended;
      {
        std::lock_guard<std::mutex> guard(lock_);
        for (size_t i = 1; i < fds.size(); ++i) {
          if (!fds[i].revents) continue;
          auto it = entries_.find(pids[i - 1]);
          if (it == entries_.end()) continue;
          ::close(it->second.pidfd);
          ended.push_back({it->first, it->second.start, std::move(it->second.objects)});
          entries_.erase(it);
        }
      }
      if (ended.empty()) continue;
      {
        std::lock_guard<std::mutex> guard(WaitLock());
        for (auto& e : ended) {
          for (auto& weak : e.objects) {
            if (auto object = weak.lock()) object->HostProcessEnded(e.pid, e.start);
          }
        }
      }
      NotifyWaiters();
    }
  }

  std::mutex lock_;
  std::map<pid_t, Entry> entries_;
  int control_ = -1;
};

HostWatch& TheHostWatch() {
  static HostWatch* watch = new HostWatch;  // its thread runs to the end of the process
  return *watch;
}

DWORD Satisfied(const std::shared_ptr<Waitable>& object, DWORD index) {
  return (object->TakeAbandoned() ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + index;
}

}  // namespace

std::mutex& WaitLock() {
  static std::mutex lock;
  return lock;
}

void NotifyWaiters() {
  g_notifyWord.fetch_add(1);
  WakeWord({&g_notifyWord, false});
}

int WakeWord(const WaitWord& word) {
  long woken = ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word.word),
                         word.shared ? FUTEX_WAKE : FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
  return woken > 0 ? static_cast<int>(woken) : 0;
}

uint32_t HostProcessStart(pid_t pid) {
  // Read with plain calls: a process that dies while its file is read makes
  // the read fail with ESRCH, which a stream buffer would throw.
  std::string path = "/proc/" + std::to_string(pid) + "/stat";
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::string text;
  char buffer[1024];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  // After the command name: the state is the third field, the start time
  // the twenty-second.
  size_t at = close + 1;
  for (int field = 3; field <= 22; ++field) {
    while (at < text.size() && text[at] == ' ') ++at;
    if (at >= text.size()) return 0;
    if (field == 22) return static_cast<uint32_t>(std::strtoull(text.c_str() + at, nullptr, 10));
    at = text.find(' ', at);
    if (at == std::string::npos) return 0;
  }
  return 0;
}

uint64_t SelfIdentity() {
  static std::atomic<uint64_t> identity{0};
  uint64_t pid = static_cast<uint64_t>(::getpid());
  uint64_t known = identity.load();
  if ((known >> 32) == pid) return known;  // forked children look again
  known = (pid << 32) | HostProcessStart(static_cast<pid_t>(pid));
  identity.store(known);
  return known;
}

bool WatchHostProcess(pid_t pid, uint32_t start, const std::shared_ptr<Waitable>& object) {
  return TheHostWatch().Watch(pid, start, object);
}

}  // namespace qk

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<qk::Waitable>> objects;
  objects.reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    auto object = qk::ResolveWaitable(handles[i]);
    if (!object) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    // A wait for all that names one object twice could never take both.
    for (const auto& other : objects) {
      if (waitAll && other == object) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
      }
    }
    objects.push_back(std::move(object));
  }
  DWORD tid = qk::CurrentThreadId();
  timespec deadline = qk::AddMs(qk::MonotonicNow(), ms == INFINITE ? 0 : ms);
  std::vector<qk::WaitWord> words(count);
  std::vector<uint32_t> startValues(count, 0);
  std::vector<qk::Sleeper> sleepers;
  sleepers.reserve(count + 1);
  bool first = true;
  std::unique_lock<std::mutex> lock(qk::WaitLock());
  for (;;) {
    // The words are read before the objects are looked at, so a change made
    // after the look ends the sleep at once.
    sleepers.clear();
    sleepers.push_back({{&qk::g_notifyWord, false}, qk::g_notifyWord.load()});
    for (DWORD i = 0; i < count; ++i) {
      if (first) words[i] = objects[i]->Word();
      if (!words[i].word) continue;
      uint32_t value = words[i].word->load();
      if (first) startValues[i] = value;
      sleepers.push_back({words[i], value});
    }
    first = false;

    if (waitAll) {
      bool all = true;
      for (auto& object : objects) all = all && object->Ready(tid);
      if (all) {
        DWORD taken = 0;
        while (taken < count && objects[taken]->Acquire(tid)) ++taken;
        if (taken == count) {
          DWORD result = WAIT_OBJECT_0;
          for (DWORD i = 0; i < count; ++i) {
            if (objects[i]->TakeAbandoned() && result == WAIT_OBJECT_0) result = WAIT_ABANDONED_0 + i;
          }
          return result;
        }
        // Another waiter took one of them first: give back what was taken.
        while (taken > 0) objects[--taken]->Undo(tid);
      }
    } else {
      for (DWORD i = 0; i < count; ++i) {
        if (objects[i]->Ready(tid) && objects[i]->Acquire(tid)) return qk::Satisfied(objects[i], i);
        if (words[i].word && objects[i]->SignalledSince(startValues[i])) return WAIT_OBJECT_0 + i;
      }
    }

    bool changed = false;
    for (auto& object : objects) changed = object->Recheck() || changed;
    if (changed) continue;
    if (ms == 0) return WAIT_TIMEOUT;
    if (ms != INFINITE && qk::Reached(deadline)) return WAIT_TIMEOUT;
    lock.unlock();
    qk::SleepOnWords(sleepers, ms == INFINITE ? nullptr : &deadline);
    lock.lock();
  }
}

DWORD WaitForSingleObject(HANDLE handle, DWORD ms) { return WaitForMultipleObjects(1, &handle, FALSE, ms); }
