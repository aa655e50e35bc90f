// Time notifications and registry change notifications (see notify.h).
#include "shell/notify.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kernel/fs.h"
#include "kernel/sync.h"
#include "kernel/time.h"
#include "kernel/waitable.h"
#include "kernel/wstring.h"

namespace {

// ---- Time notifications ----

constexpr char16_t kNamedEventPrefix[] = u"\\\\.\\Notifications\\NamedEvents\\";

struct Armed {
  int64_t dueUtcMs;
  std::u16string eventName;
};

class TimeNotifications {
 public:
  HANDLE Set(HANDLE replace, int64_t dueUtcMs, std::u16string eventName) {
    HANDLE handle;
    {
      std::lock_guard<std::mutex> guard(lock_);
      uintptr_t id = replace && armed_.count(Id(replace)) ? Id(replace) : nextId_++;
      armed_[id] = Armed{dueUtcMs, std::move(eventName)};
      handle = reinterpret_cast<HANDLE>(id);
      if (!started_) {
        started_ = true;
        std::thread([this] { Run(); }).detach();
      }
    }
    Changed();
    return handle;
  }

  bool Clear(HANDLE handle) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (armed_.erase(Id(handle)) == 0 && (Id(handle) < kFirstId || Id(handle) >= nextId_)) return false;
    }
    Changed();
    return true;
  }

 private:
  static constexpr uintptr_t kFirstId = 0x4E000001u;
  static uintptr_t Id(HANDLE handle) { return reinterpret_cast<uintptr_t>(handle); }

  void Changed() {
    Publish();
    changes_.fetch_add(1);
    qk::WakeClockSleepers();
  }

  // Rewrites this program's list of armed notifications.
  void Publish() {
    std::lock_guard<std::mutex> guard(lock_);
    std::string path = qk::SharedObjectFolder() + "/notify-" + std::to_string(::getpid()) + ".list";
    std::string text;
    for (const auto& [id, armed] : armed_)
      text += std::to_string(armed.dueUtcMs) + " " + qk::ToUtf8(armed.eventName) + "\n";
    std::string tmp = path + ".tmp";
    if (FILE* f = std::fopen(tmp.c_str(), "w")) {
      std::fputs(text.c_str(), f);
      std::fclose(f);
      std::rename(tmp.c_str(), path.c_str());
    }
  }

  // Sleeps until the earliest notification is due, signals the events of
  // those that are due and forgets them; with none armed it sleeps until
  // one is.
  void Run() {
    for (;;) {
      uint32_t seen = changes_.load();
      int64_t earliest = INT64_MAX;
      std::vector<std::u16string> due;
      {
        std::lock_guard<std::mutex> guard(lock_);
        int64_t now = qk::WallClockMs();
        for (auto it = armed_.begin(); it != armed_.end();) {
          if (it->second.dueUtcMs <= now) {
            due.push_back(it->second.eventName);
            it = armed_.erase(it);
          } else {
            earliest = std::min(earliest, it->second.dueUtcMs);
            ++it;
          }
        }
      }
      if (!due.empty()) Publish();
      for (const auto& name : due) {
        // Only an event some program holds is signalled: nobody waits on
        // one that nobody holds.
        if (HANDLE event = OpenEventW(0, FALSE, name.c_str())) {
          SetEvent(event);
          CloseHandle(event);
        }
      }
      if (!due.empty()) continue;
      qk::SleepUntilWallClock(earliest, &changes_, seen);
    }
  }

  std::mutex lock_;
  std::map<uintptr_t, Armed> armed_;
  uintptr_t nextId_ = kFirstId;
  bool started_ = false;
  std::atomic<uint32_t> changes_{0};
};

TimeNotifications& Notifications() {
  static TimeNotifications* service = new TimeNotifications;  // its thread lives to the end of the process
  return *service;
}

// ---- Registry change notifications ----

struct Watch {
  HKEY root;
  std::u16string subKey, valueName;
  HWND window;
  UINT message;
  DWORD userData;
  DWORD last;
};

DWORD ReadDword(HKEY root, LPCWSTR subKey, LPCWSTR valueName, bool* found) {
  *found = false;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return 0;
  DWORD type = 0, value = 0, size = sizeof value;
  LONG r = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  *found = r == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value;
  return *found ? value : 0;
}

class RegistryWatches {
 public:
  HREGNOTIFY Add(Watch watch) {
    std::string folder = qk::DeviceRoot() + "/Registry";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::lock_guard<std::mutex> guard(lock_);
    if (!Start()) return nullptr;
    if (!folders_.count(folder)) {
      int wd = inotify_add_watch(inotify_, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE);
      if (wd < 0) return nullptr;
      folders_[folder] = wd;
    }
    uintptr_t id = nextId_++;
    watches_[id] = std::move(watch);
    return reinterpret_cast<HREGNOTIFY>(id);
  }

  bool Remove(HREGNOTIFY notify) {
    std::lock_guard<std::mutex> guard(lock_);
    return watches_.erase(reinterpret_cast<uintptr_t>(notify)) != 0;
  }

 private:
  // Call with lock_ held.
  bool Start() {
    if (inotify_ >= 0) return true;
    inotify_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (inotify_ < 0) return false;
    std::thread([this] { Run(); }).detach();
    return true;
  }

  void Run() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      pollfd p{inotify_, POLLIN, 0};
      if (::poll(&p, 1, -1) < 0) continue;
      while (::read(inotify_, buffer, sizeof buffer) > 0) {
      }
      Look();
    }
  }

  // Posts the change of every watched value that changed.
  void Look() {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& [id, watch] : watches_) {
      bool found;
      DWORD now = ReadDword(watch.root, watch.subKey.c_str(), watch.valueName.c_str(), &found);
      if (now == watch.last) continue;
      watch.last = now;
      PostMessageW(watch.window, watch.message, now, watch.userData);
    }
  }

  std::mutex lock_;
  int inotify_ = -1;
  std::map<std::string, int> folders_;
  std::map<uintptr_t, Watch> watches_;
  uintptr_t nextId_ = 0x52000001u;
};

RegistryWatches& Watches() {
  static RegistryWatches* watches = new RegistryWatches;  // its thread lives to the end of the process
  return *watches;
}

}  // namespace

namespace qk {

// Local calendar time to milliseconds since 1970 UTC, with the offset in
// force at that moment (not the one now: a time on the far side of a change
// to or from summer time is due when the clock shows it); false for a time
// that is not a valid calendar time. A local time that comes twice (the hour
// the clock is set back) is its first coming that is not past, else its
// last; one that never comes (the hour the clock skips) is taken with the
// offset before the change, so it falls as far after the change as it lies
// after the skipped hour's start.
bool TriggerTimeToUtcMs(const SYSTEMTIME& local, int64_t* utcMs) {
  FILETIME ft;
  if (!SystemTimeToFileTime(&local, &ft)) return false;
  uint64_t ticks = (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  const int64_t localMs = int64_t(ticks / 10000) - 11644473600000LL;
  // The offsets in force around that local time: a zone changes its offset
  // at most once within a day either side.
  constexpr int64_t kDayMs = 86400000;
  int offsets[3] = {qk::LocalOffsetMinutesAt(localMs - kDayMs), qk::LocalOffsetMinutesAt(localMs),
                    qk::LocalOffsetMinutesAt(localMs + kDayMs)};
  const int64_t now = qk::WallClockMs();
  bool found = false;
  int64_t firstNotPast = INT64_MAX, last = INT64_MIN, latestCandidate = INT64_MIN;
  for (int offset : offsets) {
    int64_t utc = localMs - int64_t(offset) * 60000;
    latestCandidate = std::max(latestCandidate, utc);
    if (qk::LocalOffsetMinutesAt(utc) != offset) continue;  // that offset is not in force then
    found = true;
    last = std::max(last, utc);
    if (utc >= now) firstNotPast = std::min(firstNotPast, utc);
  }
  *utcMs = !found ? latestCandidate : firstNotPast != INT64_MAX ? firstNotPast : last;
  return true;
}

std::vector<ArmedNotification> ArmedNotifications() {
  std::vector<ArmedNotification> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(SharedObjectFolder(), ec)) {
    std::string name = entry.path().filename().string();
    if (name.rfind("notify-", 0) != 0 || name.size() < 6 || name.substr(name.size() - 5) != ".list") continue;
    pid_t pid = static_cast<pid_t>(std::atoi(name.c_str() + 7));
    if (pid <= 0 || (::kill(pid, 0) != 0 && errno == ESRCH)) continue;  // a program that has ended
    std::ifstream in(entry.path());
    long long due;
    std::string event;
    while (in >> due && std::getline(in >> std::ws, event)) out.push_back({due, FromUtf8(event)});
  }
  return out;
}

}  // namespace qk

HANDLE CeSetUserNotificationEx(HANDLE notification, CE_NOTIFICATION_TRIGGER* trigger, CE_USER_NOTIFICATION* user) {
  const std::u16string prefix = kNamedEventPrefix;
  if (!trigger || trigger->dwType != CNT_TIME || user || !trigger->lpszApplication) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::u16string application = trigger->lpszApplication;
  if (application.size() <= prefix.size() ||
      qk::LowerCase(application.substr(0, prefix.size())) != qk::LowerCase(prefix)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  int64_t due = 0;
  if (!qk::TriggerTimeToUtcMs(trigger->stStartTime, &due)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return Notifications().Set(notification, due, application.substr(prefix.size()));
}

BOOL CeClearUserNotification(HANDLE notification) {
  if (Notifications().Clear(notification)) return TRUE;
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

HRESULT RegistryGetDWORD(HKEY root, LPCWSTR subKey, LPCWSTR valueName, DWORD* data) {
  if (!data) return E_INVALIDARG;
  bool found;
  DWORD value = ReadDword(root, subKey, valueName, &found);
  if (!found) return E_FAIL;
  *data = value;
  return S_OK;
}

HRESULT RegistryNotifyWindow(HKEY root, LPCWSTR subKey, LPCWSTR valueName, HWND window, UINT message,
                             DWORD userData, NOTIFICATIONCONDITION* condition, HREGNOTIFY* notify) {
  if (!notify || !window || condition) return E_INVALIDARG;
  bool found;
  Watch watch{root, subKey ? subKey : u"", valueName ? valueName : u"", window, message, userData, 0};
  watch.last = ReadDword(root, watch.subKey.c_str(), watch.valueName.c_str(), &found);
  *notify = Watches().Add(std::move(watch));
  return *notify ? S_OK : E_FAIL;
}

HRESULT RegistryCloseNotification(HREGNOTIFY notify) { return Watches().Remove(notify) ? S_OK : E_INVALIDARG; }
