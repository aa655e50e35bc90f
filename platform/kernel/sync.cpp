// Events, mutexes, semaphores and the waits on every waitable object.
//
// Unnamed objects live in this process only. Named events and mutexes are
// visible to every process of the device root: each name has a small group of
// files under the device root's kernel folder:
//   <id>.presence  held with a shared lock by every process that has the
//                  object open, so a creator can tell whether it exists;
//   <id>.state     an event's state byte and its manual-reset byte;
//   <id>.owner     locked exclusively by the process that owns a mutex.
// Creating or opening a name happens under the folder's lock file, so two
// processes never both decide that they created the same object.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <vector>

#include "kernel/fs.h"
#include "kernel/sync.h"
#include "kernel/waitable.h"
#include "kernel/wstring.h"

namespace qk {
namespace {

std::condition_variable g_waitCv;
std::atomic<DWORD> g_nextThreadId{1};

// How often a waiter that holds a polled object looks again.
constexpr auto kPollInterval = std::chrono::milliseconds(2);

std::string HexName(const std::u16string& name) {
  std::string utf8 = ToUtf8(name);
  static const char* digits = "0123456789abcdef";
  std::string out;
  if (utf8.size() <= 100) {
    for (unsigned char c : utf8) {
      out += digits[c >> 4];
      out += digits[c & 15];
    }
    return out;
  }
  // Long names: a 64-bit FNV-1a hash keeps the file name short.
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : utf8) h = (h ^ c) * 1099511628211ull;
  for (int i = 0; i < 16; ++i) out += digits[(h >> (60 - 4 * i)) & 15];
  return "h" + out;
}

// An exclusive lock on the folder's lock file for the lifetime of the guard.
class FolderLock {
 public:
  FolderLock() {
    fd_ = ::open((SharedObjectFolder() + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_ = -1;
};

// The presence of this process in a shared name. Opening it tells whether
// another process holds the name already.
class Presence {
 public:
  // Call with the FolderLock held. Sets existed when another process has the
  // name open.
  bool Open(const std::string& base, bool* existed) {
    fd_ = ::open((base + ".presence").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return false;
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
      *existed = false;
    } else {
      *existed = true;
    }
    ::flock(fd_, LOCK_SH);
    return true;
  }
  ~Presence() {
    if (fd_ >= 0) ::close(fd_);
  }

 private:
  int fd_ = -1;
};

class EventObject : public Waitable {
 public:
  EventObject(bool manual, bool initial) : manual_(manual), signalled_(initial) {}
  ~EventObject() override {
    if (stateFd_ >= 0) ::close(stateFd_);
  }

  // Makes the event shared under a name; call with the FolderLock held.
  bool Share(const std::string& base, bool* existed, bool initialIfNew) {
    if (!presence_.Open(base, existed)) return false;
    stateFd_ = ::open((base + ".state").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (stateFd_ < 0) return false;
    if (!*existed) {
      char bytes[2] = {static_cast<char>(initialIfNew ? 1 : 0), static_cast<char>(manual_ ? 1 : 0)};
      if (::pwrite(stateFd_, bytes, 2, 0) != 2) return false;
    } else {
      char bytes[2] = {0, 0};
      if (::pread(stateFd_, bytes, 2, 0) == 2) manual_ = bytes[1] != 0;
    }
    return true;
  }

  bool Ready(DWORD) override { return shared() ? ReadShared() : signalled_; }
  bool Acquire(DWORD) override {
    if (!shared()) {
      if (!signalled_) return false;
      if (!manual_) signalled_ = false;
      return true;
    }
    ::flock(stateFd_, LOCK_EX);
    bool on = ReadShared();
    if (on && !manual_) WriteShared(false);
    ::flock(stateFd_, LOCK_UN);
    return on;
  }
  bool Polled() const override { return shared(); }

  void Set(bool on) {
    if (shared()) {
      ::flock(stateFd_, LOCK_EX);
      WriteShared(on);
      ::flock(stateFd_, LOCK_UN);
    } else {
      signalled_ = on;
    }
  }
  bool manual() const { return manual_; }

 private:
  bool shared() const { return stateFd_ >= 0; }
  bool ReadShared() {
    char b = 0;
    return ::pread(stateFd_, &b, 1, 0) == 1 && b != 0;
  }
  void WriteShared(bool on) {
    char b = on ? 1 : 0;
    if (::pwrite(stateFd_, &b, 1, 0) != 1) return;
  }

  bool manual_;
  bool signalled_;
  int stateFd_ = -1;
  Presence presence_;
};

class MutexObject : public Waitable {
 public:
  ~MutexObject() override {
    if (ownerFd_ >= 0) ::close(ownerFd_);
  }
  bool Share(const std::string& base, bool* existed) {
    if (!presence_.Open(base, existed)) return false;
    ownerPath_ = base + ".owner";
    return true;
  }
  bool Ready(DWORD tid) override {
    if (owner_ == tid) return true;
    if (owner_ != 0) return false;
    if (!shared()) return true;
    // Another process may own it: look by taking it and giving it back;
    // Acquire takes it again and may still lose to another process.
    if (!TakeShared()) return false;
    ::close(ownerFd_);
    ownerFd_ = -1;
    return true;
  }
  bool Acquire(DWORD tid) override {
    if (owner_ == tid) {
      ++count_;
      return true;
    }
    if (owner_ != 0) return false;
    if (shared() && !TakeShared()) return false;
    owner_ = tid;
    count_ = 1;
    return true;
  }
  bool Polled() const override { return shared(); }

  bool Release(DWORD tid) {
    if (owner_ != tid || count_ == 0) return false;
    if (--count_ == 0) {
      owner_ = 0;
      if (ownerFd_ >= 0) {
        ::close(ownerFd_);
        ownerFd_ = -1;
      }
    }
    return true;
  }

 private:
  bool shared() const { return !ownerPath_.empty(); }
  // Locks the owner file for this process (kept until the last release).
  bool TakeShared() {
    if (ownerFd_ >= 0) return true;
    int fd = ::open(ownerPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      return false;
    }
    ownerFd_ = fd;
    return true;
  }

  DWORD owner_ = 0;
  DWORD count_ = 0;
  std::string ownerPath_;
  int ownerFd_ = -1;
  Presence presence_;
};

class SemaphoreObject : public Waitable {
 public:
  SemaphoreObject(LONG count, LONG maximum) : count_(count), max_(maximum) {}
  bool Ready(DWORD) override { return count_ > 0; }
  bool Acquire(DWORD) override {
    if (count_ <= 0) return false;
    --count_;
    return true;
  }
  bool Release(LONG n, LONG* previous) {
    if (n <= 0 || count_ + n > max_) return false;
    if (previous) *previous = count_;
    count_ += n;
    return true;
  }

 private:
  LONG count_;
  LONG max_;
};

// Named objects of this process by device root and name, so that opening a
// name twice gives the same object.
std::map<std::string, std::weak_ptr<Waitable>>& NameTable() {
  static std::map<std::string, std::weak_ptr<Waitable>> table;
  return table;
}

template <class T>
std::shared_ptr<T> FindNamed(const std::string& key, bool* wrongType) {
  auto& table = NameTable();
  auto it = table.find(key);
  if (it == table.end()) return nullptr;
  auto object = it->second.lock();
  if (!object) {
    table.erase(it);
    return nullptr;
  }
  auto typed = std::dynamic_pointer_cast<T>(object);
  if (!typed) *wrongType = true;
  return typed;
}

std::string NameKey(LPCWSTR name) { return DeviceRoot() + "|" + ToUtf8(name, wcslen(name)); }

std::string NameBase(const char* kind, LPCWSTR name) {
  return SharedObjectFolder() + "/" + kind + "-" + HexName(std::u16string(name));
}

}  // namespace

std::mutex& WaitLock() {
  static std::mutex lock;
  return lock;
}

void NotifyWaiters() { g_waitCv.notify_all(); }

std::string SharedObjectFolder() {
  std::string folder = DeviceRoot() + "/.kernel";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return folder;
}

namespace {
thread_local DWORD t_threadId = 0;
}

DWORD NewThreadId() { return g_nextThreadId.fetch_add(1); }
void SetCurrentThreadId(DWORD id) { t_threadId = id; }
DWORD CurrentThreadId() {
  if (t_threadId == 0) t_threadId = NewThreadId();
  return t_threadId;
}

}  // namespace qk

using qk::WaitLock;

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  if (!name || !*name) {
    SetLastError(0);
    return qk::RegisterHandle(std::make_shared<qk::EventObject>(manualReset != FALSE, initialState != FALSE));
  }
  std::lock_guard<std::mutex> lock(WaitLock());
  std::string key = qk::NameKey(name);
  bool wrongType = false;
  if (auto existing = qk::FindNamed<qk::EventObject>(key, &wrongType)) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return qk::RegisterHandle(existing);
  }
  if (wrongType) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto event = std::make_shared<qk::EventObject>(manualReset != FALSE, initialState != FALSE);
  bool existed = false;
  {
    qk::FolderLock folderLock;
    if (!event->Share(qk::NameBase("event", name), &existed, initialState != FALSE)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
  }
  qk::NameTable()[key] = event;
  SetLastError(existed ? ERROR_ALREADY_EXISTS : 0);
  return qk::RegisterHandle(event);
}

HANDLE OpenEventW(DWORD, BOOL, LPCWSTR name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(WaitLock());
  std::string key = qk::NameKey(name);
  bool wrongType = false;
  if (auto existing = qk::FindNamed<qk::EventObject>(key, &wrongType)) {
    SetLastError(0);
    return qk::RegisterHandle(existing);
  }
  if (wrongType) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // Exists only when another process holds it.
  auto event = std::make_shared<qk::EventObject>(false, false);
  bool existed = false;
  {
    qk::FolderLock folderLock;
    if (!event->Share(qk::NameBase("event", name), &existed, false) || !existed) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
  }
  qk::NameTable()[key] = event;
  SetLastError(0);
  return qk::RegisterHandle(event);
}

static BOOL ModifyEvent(HANDLE handle, DWORD func) {
  auto event = qk::LookupHandleAs<qk::EventObject>(handle);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(WaitLock());
    event->Set(func != EVENT_RESET);
  }
  if (func == EVENT_RESET) return TRUE;
  qk::NotifyWaiters();
  if (func == EVENT_PULSE) {
    // A pulse releases the threads waiting now; give them a moment to run,
    // then reset.
    std::this_thread::yield();
    std::lock_guard<std::mutex> lock(WaitLock());
    event->Set(false);
  }
  return TRUE;
}

BOOL SetEvent(HANDLE event) { return ModifyEvent(event, EVENT_SET); }
BOOL ResetEvent(HANDLE event) { return ModifyEvent(event, EVENT_RESET); }
BOOL PulseEvent(HANDLE event) { return ModifyEvent(event, EVENT_PULSE); }
BOOL EventModify(HANDLE event, DWORD func) {
  if (func != EVENT_SET && func != EVENT_RESET && func != EVENT_PULSE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return ModifyEvent(event, func);
}

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR name) {
  DWORD tid = qk::CurrentThreadId();
  std::unique_lock<std::mutex> lock(WaitLock());
  std::shared_ptr<qk::MutexObject> mutex;
  DWORD error = 0;
  if (name && *name) {
    std::string key = qk::NameKey(name);
    bool wrongType = false;
    mutex = qk::FindNamed<qk::MutexObject>(key, &wrongType);
    if (wrongType) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    if (mutex) {
      error = ERROR_ALREADY_EXISTS;
    } else {
      mutex = std::make_shared<qk::MutexObject>();
      bool existed = false;
      qk::FolderLock folderLock;
      if (!mutex->Share(qk::NameBase("mutex", name), &existed)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
      }
      qk::NameTable()[key] = mutex;
      if (existed) error = ERROR_ALREADY_EXISTS;
    }
  } else {
    mutex = std::make_shared<qk::MutexObject>();
  }
  // As on the device, asking for the initial ownership of a mutex that
  // exists already asks for nothing.
  if (initialOwner && error != ERROR_ALREADY_EXISTS && mutex->Ready(tid)) mutex->Acquire(tid);
  lock.unlock();
  SetLastError(error);
  return qk::RegisterHandle(mutex);
}

BOOL ReleaseMutex(HANDLE handle) {
  auto mutex = qk::LookupHandleAs<qk::MutexObject>(handle);
  if (!mutex) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  bool ok;
  {
    std::lock_guard<std::mutex> lock(WaitLock());
    ok = mutex->Release(qk::CurrentThreadId());
  }
  if (!ok) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  qk::NotifyWaiters();
  return TRUE;
}

HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES, LONG initial, LONG maximum, LPCWSTR) {
  if (maximum <= 0 || initial < 0 || initial > maximum) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  SetLastError(0);
  return qk::RegisterHandle(std::make_shared<qk::SemaphoreObject>(initial, maximum));
}

BOOL ReleaseSemaphore(HANDLE handle, LONG count, LPLONG previous) {
  auto semaphore = qk::LookupHandleAs<qk::SemaphoreObject>(handle);
  if (!semaphore) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  bool ok;
  {
    std::lock_guard<std::mutex> lock(WaitLock());
    ok = semaphore->Release(count, previous);
  }
  if (!ok) {
    SetLastError(ERROR_TOO_MANY_POSTS);
    return FALSE;
  }
  qk::NotifyWaiters();
  return TRUE;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<qk::Waitable>> objects;
  objects.reserve(count);
  bool polled = false;
  for (DWORD i = 0; i < count; ++i) {
    auto object = qk::ResolveWaitable(handles[i]);
    if (!object) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    polled = polled || object->Polled();
    objects.push_back(std::move(object));
  }
  DWORD tid = qk::CurrentThreadId();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms == INFINITE ? 0 : ms);
  std::unique_lock<std::mutex> lock(WaitLock());
  for (;;) {
    if (waitAll) {
      bool all = true;
      for (auto& object : objects) all = all && object->Ready(tid);
      if (all) {
        bool got = true;
        for (auto& object : objects) got = object->Acquire(tid) && got;
        if (got) return WAIT_OBJECT_0;
      }
    } else {
      for (DWORD i = 0; i < count; ++i) {
        if (objects[i]->Ready(tid) && objects[i]->Acquire(tid)) return WAIT_OBJECT_0 + i;
      }
    }
    if (ms == 0) return WAIT_TIMEOUT;
    if (ms != INFINITE && std::chrono::steady_clock::now() >= deadline) return WAIT_TIMEOUT;
    if (polled) {
      auto until = std::chrono::steady_clock::now() + qk::kPollInterval;
      if (ms != INFINITE && deadline < until) until = deadline;
      qk::g_waitCv.wait_until(lock, until);
    } else if (ms == INFINITE) {
      qk::g_waitCv.wait(lock);
    } else {
      qk::g_waitCv.wait_until(lock, deadline);
    }
  }
}

DWORD WaitForSingleObject(HANDLE handle, DWORD ms) { return WaitForMultipleObjects(1, &handle, FALSE, ms); }
