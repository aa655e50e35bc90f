// Events, mutexes and semaphores.
//
// Each object keeps its state in a small cell of atomic words; the first word
// is the one its waiters sleep on (see waitable.h). An unnamed object's cell
// lives in this process. A named object is visible to every process of the
// device root: each name has two files under the device root's kernel folder:
//   <kind>-<id>.presence  held with a shared lock by every process that has
//                         the object open, so a creator can tell whether it
//                         exists;
//   <kind>-<id>.shared    the cell, mapped by every process that has the
//                         object open.
// Creating or opening a name happens under the folder's lock file, so two
// processes never both decide that they created the same object; the creator
// of a name that no process holds starts its cell afresh.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

#include "kernel/fs.h"
#include "kernel/sync.h"
#include "kernel/waitable.h"
#include "kernel/wstring.h"

namespace qk {
namespace {

std::atomic<DWORD> g_nextThreadId{1};

// The state of one object. Events: word bit 0 is the signal, the bits above
// count the sets, so that a waiter sees a set even when a reset followed.
// Mutexes: word is the number of the owning process, 0 when free, kAbandoned
// when free after its owner ended holding it; owner is that process's
// SelfIdentity (0 for a moment after it took the word). Semaphores: word is
// the count.
struct Cell {
  std::atomic<uint32_t> word{0};
  std::atomic<uint32_t> manual{0};
  std::atomic<int32_t> maximum{0};
  std::atomic<uint32_t> reserved{0};
  std::atomic<uint64_t> owner{0};
};
static_assert(std::atomic<uint32_t>::is_always_lock_free && std::atomic<uint64_t>::is_always_lock_free,
              "a cell shared between processes needs lock-free words");
constexpr size_t kCellFileSize = 4096;
constexpr uint32_t kAbandoned = 0x80000000u;

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

// This process's hold on a shared name: its presence and the mapped cell.
class SharedName {
 public:
  SharedName() = default;
  SharedName(const SharedName&) = delete;
  SharedName& operator=(const SharedName&) = delete;
  ~SharedName() {
    if (cell_) ::munmap(cell_, kCellFileSize);
    if (presenceFd_ >= 0) ::close(presenceFd_);
  }

  // Call with the FolderLock held. Sets existed when another process has the
  // name open; otherwise the cell starts zeroed.
  bool Open(const std::string& base, bool* existed) {
    presenceFd_ = ::open((base + ".presence").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (presenceFd_ < 0) return false;
    *existed = ::flock(presenceFd_, LOCK_EX | LOCK_NB) != 0;
    ::flock(presenceFd_, LOCK_SH);
    int fd = ::open((base + ".shared").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    struct stat st {};
    bool sized = ::fstat(fd, &st) == 0;
    if (sized && st.st_size < static_cast<off_t>(kCellFileSize)) sized = ::ftruncate(fd, kCellFileSize) == 0;
    void* map = sized ? ::mmap(nullptr, kCellFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    ::close(fd);
    if (map == MAP_FAILED) return false;
    // A name nobody holds starts afresh: the cell of its last holders (one
    // of them perhaps killed while owning it) means nothing any more. No
    // other process can open it meanwhile (the folder lock is held); cleared
    // in place rather than by cutting the file, which costs a journal write.
    if (!*existed) std::memset(map, 0, kCellFileSize);
    cell_ = static_cast<Cell*>(map);
    return true;
  }
  Cell* cell() const { return cell_; }

 private:
  int presenceFd_ = -1;
  Cell* cell_ = nullptr;
};

// What events, mutexes and semaphores share: the cell, here or mapped.
class CellObject : public Waitable {
 public:
  WaitWord Word() override { return {&cell_->word, shared_ != nullptr}; }

  // Makes the object shared under a name; call with the FolderLock held.
  bool Share(const std::string& base, bool* existed) {
    auto name = std::make_unique<SharedName>();
    if (!name->Open(base, existed)) return false;
    shared_ = std::move(name);
    cell_ = shared_->cell();
    return true;
  }
  bool shared() const { return shared_ != nullptr; }

 protected:
  void Wake() { WakeWord(Word()); }

  Cell local_;
  Cell* cell_ = &local_;
  std::unique_ptr<SharedName> shared_;
};

class EventObject : public CellObject {
 public:
  EventObject(bool manual, bool initial) {
    local_.manual = manual ? 1 : 0;
    local_.word = initial ? 1 : 0;
  }
  // The state a new named event starts with (call right after Share).
  void Start(bool manual, bool initial) {
    cell_->manual = manual ? 1 : 0;
    cell_->word = initial ? 1 : 0;
  }

  bool Ready(DWORD) override { return (cell_->word.load() & 1) != 0; }
  bool Acquire(DWORD) override {
    uint32_t w = cell_->word.load();
    for (;;) {
      if (!(w & 1)) return false;
      if (manual()) return true;
      if (cell_->word.compare_exchange_weak(w, w & ~1u)) return true;
    }
  }
  void Undo(DWORD) override {
    if (!manual()) Set();
  }
  bool SignalledSince(uint32_t value) override { return manual() && (cell_->word.load() >> 1) != (value >> 1); }

  // Signals the event and wakes its waiters; answers how many slept on it.
  int Set() {
    uint32_t w = cell_->word.load();
    while (!cell_->word.compare_exchange_weak(w, (w | 1u) + 2u)) {
    }
    return WakeWord(Word());
  }
  void Reset() { cell_->word.fetch_and(~1u); }
  // Releases the threads waiting now and leaves the event reset: all of them
  // for a manual-reset event (they see the set since they began waiting),
  // one for an auto-reset event, which the waiters woken take between them.
  void Pulse() {
    int sleepers = Set();
    if (manual() || sleepers == 0) Reset();
  }
  bool manual() const { return cell_->manual.load() != 0; }
};

class MutexObject : public CellObject, public std::enable_shared_from_this<MutexObject> {
 public:
  bool Ready(DWORD tid) override { return owner_ == tid || (owner_ == 0 && Free(cell_->word.load())); }
  bool Acquire(DWORD tid) override {
    if (owner_ == tid) {
      ++count_;
      return true;
    }
    if (owner_ != 0) return false;
    uint32_t w = cell_->word.load();
    if (!Free(w) || !cell_->word.compare_exchange_strong(w, SelfPid())) return false;
    if (shared()) cell_->owner.store(SelfIdentity());
    owner_ = tid;
    count_ = 1;
    tookAbandoned_ = abandoned_ = w == kAbandoned;
    return true;
  }
  void Undo(DWORD) override {
    if (count_ > 1) {
      --count_;
    } else {
      GiveUp(tookAbandoned_ ? kAbandoned : 0);
      abandoned_ = false;
    }
  }
  bool TakeAbandoned() override {
    bool was = abandoned_;
    abandoned_ = false;
    return was;
  }

  // The word names another process: makes sure its end is watched, and
  // frees the mutex at once when that process has ended already.
  bool Recheck() override {
    if (!shared() || owner_ != 0) return false;
    uint32_t w = cell_->word.load();
    if (Free(w) || w == SelfPid()) return false;
    uint64_t owner = cell_->owner.load();
    uint32_t start = (owner >> 32) == w ? static_cast<uint32_t>(owner) : 0;
    if (WatchHostProcess(static_cast<pid_t>(w), start, shared_from_this())) return false;
    return Abandon(w, start);
  }
  void HostProcessEnded(pid_t pid, uint32_t start) override { Abandon(static_cast<uint32_t>(pid), start); }

  bool Release(DWORD tid) {
    if (owner_ != tid || count_ == 0) return false;
    if (--count_ == 0) GiveUp(0);
    return true;
  }

 private:
  static bool Free(uint32_t w) { return w == 0 || w == kAbandoned; }
  static uint32_t SelfPid() { return static_cast<uint32_t>(SelfIdentity() >> 32); }

  void GiveUp(uint32_t state) {
    owner_ = 0;
    count_ = 0;
    if (shared()) cell_->owner.store(0);
    cell_->word.store(state);
    Wake();
  }
  // Frees the mutex that process pid (started at start) held when it ended,
  // unless the word names a later process of the same number by now.
  bool Abandon(uint32_t pid, uint32_t start) {
    uint64_t owner = cell_->owner.load();
    if ((owner >> 32) == pid) {
      if (start != 0 && static_cast<uint32_t>(owner) != start) return false;
      cell_->owner.compare_exchange_strong(owner, 0);
    }
    uint32_t expected = pid;
    if (!cell_->word.compare_exchange_strong(expected, kAbandoned)) return false;
    Wake();
    return true;
  }

  // Guarded by WaitLock(): the owning thread of this process and its count.
  DWORD owner_ = 0;
  DWORD count_ = 0;
  bool abandoned_ = false;      // to be reported by the wait that took it
  bool tookAbandoned_ = false;  // for Undo
};

class SemaphoreObject : public CellObject {
 public:
  SemaphoreObject(LONG count, LONG maximum) { Start(count, maximum); }
  void Start(LONG count, LONG maximum) {
    cell_->word = static_cast<uint32_t>(count);
    cell_->maximum = maximum;
  }
  bool Ready(DWORD) override { return Count() > 0; }
  bool Acquire(DWORD) override {
    uint32_t w = cell_->word.load();
    for (;;) {
      if (static_cast<int32_t>(w) <= 0) return false;
      if (cell_->word.compare_exchange_weak(w, w - 1)) return true;
    }
  }
  void Undo(DWORD) override { Release(1, nullptr); }
  bool Release(LONG n, LONG* previous) {
    uint32_t w = cell_->word.load();
    for (;;) {
      LONG now = static_cast<int32_t>(w);
      if (n <= 0 || now > cell_->maximum.load() - n) return false;
      if (cell_->word.compare_exchange_weak(w, static_cast<uint32_t>(now + n))) {
        if (previous) *previous = now;
        Wake();
        return true;
      }
    }
  }

 private:
  LONG Count() const { return static_cast<int32_t>(cell_->word.load()); }
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

// Finds or makes the named object of type T. create makes one when no
// process holds the name, starting it with start(object); otherwise only an
// object some process holds is found. Sets the last error as the create and
// open calls do; null on failure.
template <class T, class Make, class StartFn>
std::shared_ptr<T> NamedObject(const char* kind, LPCWSTR name, bool create, Make make, StartFn start) {
  std::string key = NameKey(name);
  bool wrongType = false;
  if (auto existing = FindNamed<T>(key, &wrongType)) {
    SetLastError(create ? ERROR_ALREADY_EXISTS : 0);
    return existing;
  }
  if (wrongType) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  std::shared_ptr<T> object = make();
  bool existed = false;
  {
    FolderLock folderLock;
    if (!object->Share(NameBase(kind, name), &existed)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    if (!existed && !create) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    if (!existed) start(*object);
  }
  NameTable()[key] = object;
  SetLastError(existed && create ? ERROR_ALREADY_EXISTS : 0);
  return object;
}

}  // namespace

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
  bool manual = manualReset != FALSE, initial = initialState != FALSE;
  auto make = [&] { return std::make_shared<qk::EventObject>(manual, initial); };
  if (!name || !*name) {
    SetLastError(0);
    return qk::RegisterHandle(make());
  }
  std::lock_guard<std::mutex> lock(WaitLock());
  auto event = qk::NamedObject<qk::EventObject>("event", name, true, make,
                                                [&](qk::EventObject& e) { e.Start(manual, initial); });
  if (!event) return nullptr;
  DWORD error = GetLastError();
  HANDLE handle = qk::RegisterHandle(event);
  SetLastError(error);
  return handle;
}

HANDLE OpenEventW(DWORD, BOOL, LPCWSTR name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(WaitLock());
  auto event = qk::NamedObject<qk::EventObject>(
      "event", name, false, [] { return std::make_shared<qk::EventObject>(false, false); }, [](qk::EventObject&) {});
  return event ? qk::RegisterHandle(event) : nullptr;
}

static BOOL ModifyEvent(HANDLE handle, DWORD func) {
  auto event = qk::LookupHandleAs<qk::EventObject>(handle);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  switch (func) {
    case EVENT_SET:
      event->Set();
      break;
    case EVENT_RESET:
      event->Reset();
      break;
    default:
      event->Pulse();
      break;
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
    mutex = qk::NamedObject<qk::MutexObject>(
        "mutex", name, true, [] { return std::make_shared<qk::MutexObject>(); }, [](qk::MutexObject&) {});
    if (!mutex) return nullptr;
    error = GetLastError();
  } else {
    mutex = std::make_shared<qk::MutexObject>();
  }
  // As on the device, asking for the initial ownership of a mutex that
  // exists already asks for nothing.
  if (initialOwner && error != ERROR_ALREADY_EXISTS && mutex->Ready(tid)) mutex->Acquire(tid);
  lock.unlock();
  HANDLE handle = qk::RegisterHandle(mutex);
  SetLastError(error);
  return handle;
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
  return TRUE;
}

HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES, LONG initial, LONG maximum, LPCWSTR name) {
  if (maximum <= 0 || initial < 0 || initial > maximum) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto make = [&] { return std::make_shared<qk::SemaphoreObject>(initial, maximum); };
  if (!name || !*name) {
    SetLastError(0);
    return qk::RegisterHandle(make());
  }
  // A semaphore that exists keeps its count and maximum.
  std::lock_guard<std::mutex> lock(WaitLock());
  auto semaphore = qk::NamedObject<qk::SemaphoreObject>(
      "semaphore", name, true, make, [&](qk::SemaphoreObject& s) { s.Start(initial, maximum); });
  if (!semaphore) return nullptr;
  DWORD error = GetLastError();
  HANDLE handle = qk::RegisterHandle(semaphore);
  SetLastError(error);
  return handle;
}

BOOL ReleaseSemaphore(HANDLE handle, LONG count, LPLONG previous) {
  auto semaphore = qk::LookupHandleAs<qk::SemaphoreObject>(handle);
  if (!semaphore) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!semaphore->Release(count, previous)) {
    SetLastError(ERROR_TOO_MANY_POSTS);
    return FALSE;
  }
  return TRUE;
}
