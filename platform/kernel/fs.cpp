#include "kernel/fs.h"

#include <dirent.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "kernel/handle.h"
#include "kernel/wstring.h"

namespace stdfs = std::filesystem;

namespace qk {

namespace {

// Never destroyed: threads that outlive the program's static objects (the
// message bus's receiver) may still ask for the root while the process ends.
std::mutex& g_rootLock = *new std::mutex;
std::string& g_root = *new std::string;

std::string DefaultRoot() {
  if (const char* env = std::getenv("QUILLET_DEVICE_ROOT"); env && *env) return env;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return std::string(xdg) + "/quillet/device";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "/tmp") + "/.local/share/quillet/device";
}

// The names of the folders looked in, keyed by their lower-case form, so
// that a lookup without regard to case need not list a folder each time.
//
// The names are kept in step with every change to the folder, the
// program's own creates, renames and deletes and those of any other
// process alike, through the kernel's notifications (inotify): a folder is
// watched before it is listed, and each notification of a name created,
// moved or deleted in it is applied before the next lookup. Whatever was
// known under a name that is created, moved or deleted is forgotten, be it
// a folder, a link to one or a file, and so is a folder that is moved or
// deleted itself, and everything when notifications were lost.
//
// A folder is known by its path, and a path can come to lead elsewhere
// unheard: a link re-pointed or replaced, an ancestor renamed whose folder
// holds no watch. So each use first checks that the path still leads to
// the folder that was listed (the same device and inode). Where no watch
// can be had (no notifications, or the kernel's watches used up), a
// folder's names are good only while its modification time stays the same
// and lies before the file system's current clock tick. At most
// kMaxCachedFolders folders are known; the one used longest ago makes room.
//
// The cache only ever tells which other spelling of a name a folder holds:
// a name spelt exactly is looked for on disk, and a spelling the cache
// offers is confirmed on disk before it is given.
struct FolderNames {
  dev_t dev = 0;
  ino_t ino = 0;
  timespec mtime{};
  // Without a watch: false when the folder changed within the file
  // system's current clock tick (a second change in that tick would leave
  // the same time), so the names are listed again at the next lookup.
  bool settled = false;
  // The folder's watch; -1 without one.
  int watch = -1;
  // When the folder was last used (a count of uses), for making room.
  unsigned long long used = 0;
  // Every name of the folder under its lower-case form (two names may
  // differ in case only; the first one listed comes first).
  std::unordered_map<std::u16string, std::vector<std::string>> names;

  void Add(const std::string& name) {
    auto& spellings = names[LowerCase(FromUtf8(name))];
    if (std::find(spellings.begin(), spellings.end(), name) == spellings.end()) spellings.push_back(name);
  }
  void Remove(const std::string& name) {
    auto it = names.find(LowerCase(FromUtf8(name)));
    if (it == names.end()) return;
    auto& spellings = it->second;
    spellings.erase(std::remove(spellings.begin(), spellings.end(), name), spellings.end());
    if (spellings.empty()) names.erase(it);
  }
  // The spellings of name that the folder holds (in any case), the first
  // one listed first; null when none.
  const std::vector<std::string>* Find(const std::string& name) const {
    auto it = names.find(LowerCase(FromUtf8(name)));
    return it == names.end() ? nullptr : &it->second;
  }
};

std::mutex g_namesLock;
std::unordered_map<std::string, FolderNames> g_names;
std::unordered_map<int, std::string> g_folderOfWatch;
constexpr size_t kMaxCachedFolders = 128;
unsigned long long g_uses = 0;
// The notification descriptor (-1: none yet, -2: not to be had), and
// whether this process was forked from the one that made it: a child shares
// its parent's descriptor and must not take the parent's notifications.
int g_notify = -1;
bool g_forked = false;

void ForgetAllFolders() {
  g_names.clear();
  g_folderOfWatch.clear();
  if (g_notify >= 0) close(g_notify);
  g_notify = -1;
}

// Forgets one known folder and drops its watch.
std::unordered_map<std::string, FolderNames>::iterator Forget(std::unordered_map<std::string, FolderNames>::iterator it) {
  if (it->second.watch >= 0) {
    auto owner = g_folderOfWatch.find(it->second.watch);
    if (owner != g_folderOfWatch.end() && owner->second == it->first) {
      inotify_rm_watch(g_notify, it->second.watch);
      g_folderOfWatch.erase(owner);
    }
  }
  return g_names.erase(it);
}

// Forgets a folder and every folder under it.
void ForgetTree(const std::string& dir) {
  for (auto it = g_names.begin(); it != g_names.end();) {
    const std::string& key = it->first;
    if (key == dir || (key.size() > dir.size() && key.compare(0, dir.size(), dir) == 0 && key[dir.size()] == '/'))
      it = Forget(it);
    else
      ++it;
  }
}

bool NotificationsReady() {
  if (g_forked) {
    g_forked = false;
    // The parent's descriptor stays the parent's: this process makes its own.
    g_names.clear();
    g_folderOfWatch.clear();
    if (g_notify >= 0) close(g_notify);
    g_notify = -1;
  }
  if (g_notify == -1) {
    static bool registered = false;
    if (!registered) {
      registered = true;
      pthread_atfork(nullptr, nullptr, [] { g_forked = true; });
    }
    g_notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (g_notify < 0) g_notify = -2;
  }
  return g_notify >= 0;
}

// Applies the notifications that arrived since the last lookup.
void ApplyNotifications() {
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    ssize_t n = read(g_notify, buffer, sizeof buffer);
    if (n <= 0) return;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
      at += ssize_t(sizeof(inotify_event) + e->len);
      if (e->mask & IN_Q_OVERFLOW) {
        ForgetAllFolders();
        NotificationsReady();
        return;
      }
      auto folder = g_folderOfWatch.find(e->wd);
      if (folder == g_folderOfWatch.end()) continue;
      const std::string dir = folder->second;
      if (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) {
        ForgetTree(dir);
        continue;
      }
      auto names = g_names.find(dir);
      if (names == g_names.end() || e->len == 0) continue;
      const std::string name(e->name);
      if (e->mask & (IN_CREATE | IN_MOVED_TO)) names->second.Add(name);
      if (e->mask & (IN_DELETE | IN_MOVED_FROM)) names->second.Remove(name);
      // What was known under the name is no longer what the name leads to:
      // a folder or a link to one that left, or one that a name moved over
      // replaced.
      if (e->mask & (IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM)) ForgetTree(dir + "/" + name);
    }
  }
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }
bool Before(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// Makes room for one more known folder: the one used longest ago goes.
void MakeRoom() {
  while (!g_names.empty() && g_names.size() >= kMaxCachedFolders) {
    auto oldest = g_names.begin();
    for (auto it = g_names.begin(); it != g_names.end(); ++it)
      if (it->second.used < oldest->second.used) oldest = it;
    Forget(oldest);
  }
}

// The names of dir (under g_namesLock, with the notifications that arrived
// applied when there are any), listed again when they may no longer hold
// or when fresh asks for it; null when dir is no folder that can be listed.
FolderNames* NamesOf(const std::string& dir, bool notified, bool fresh) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  struct stat dirSt;
  if (stat(dir.c_str(), &dirSt) != 0 || !S_ISDIR(dirSt.st_mode)) {
    ForgetTree(dir);
    return nullptr;
  }
  auto it = g_names.find(dir);
  if (it != g_names.end() && (it->second.dev != dirSt.st_dev || it->second.ino != dirSt.st_ino)) {
    // The path leads to another folder than the one listed (a link
    // re-pointed, a folder put in its place, an ancestor renamed): nothing
    // known under it holds.
    ForgetTree(dir);
    it = g_names.end();
  }
  if (it != g_names.end() && !fresh) {
    FolderNames& known = it->second;
    // A watched folder's names follow its changes; any other folder's hold
    // while its time has not moved.
    if ((notified && known.watch >= 0) || (known.settled && SameTime(known.mtime, dirSt.st_mtim))) {
      known.used = ++g_uses;
      return &known;
    }
  }
  // The folder is opened once: its watch, its time and its names all come
  // from the folder opened, whatever the path leads to meanwhile.
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct stat openSt;
  if (fd < 0 || fstat(fd, &openSt) != 0) {
    if (fd >= 0) close(fd);
    ForgetTree(dir);
    return nullptr;
  }
  if (it != g_names.end() && (it->second.dev != openSt.st_dev || it->second.ino != openSt.st_ino)) {
    ForgetTree(dir);
    it = g_names.end();
  }
  if (it == g_names.end()) {
    MakeRoom();
    it = g_names.emplace(dir, FolderNames{}).first;
  }
  // Watched before it is listed, so that no change falls between the two.
  if (notified && it->second.watch < 0) {
    const uint32_t mask =
        IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;
    char opened[64];
    snprintf(opened, sizeof opened, "/proc/self/fd/%d", fd);
    int watch = inotify_add_watch(g_notify, opened, mask);
    // Without /proc the path is watched.
    if (watch < 0 && errno == ENOENT) watch = inotify_add_watch(g_notify, dir.c_str(), mask);
    if (watch >= 0) {
      // A folder reached under another path (a link) shares the watch: the
      // last path listed owns it.
      auto old = g_folderOfWatch.find(watch);
      if (old != g_folderOfWatch.end() && old->second != dir) {
        g_names.erase(old->second);
        it = g_names.find(dir);
      }
      g_folderOfWatch[watch] = dir;
      it->second.watch = watch;
    }
    // Else the kernel's watches are used up: the folder's time is checked.
  }
  FolderNames& listed = it->second;
  DIR* d = fdopendir(fd);
  if (!d) {
    close(fd);
    Forget(it);
    return nullptr;
  }
  listed.dev = openSt.st_dev;
  listed.ino = openSt.st_ino;
  listed.mtime = openSt.st_mtim;
  // A time in whole seconds may come from a file system that keeps no
  // finer times: its tick is then a whole second.
  timespec tick = now;
  if (openSt.st_mtim.tv_nsec == 0) tick.tv_sec -= 1;
  listed.settled = Before(openSt.st_mtim, tick);
  listed.used = ++g_uses;
  listed.names.clear();
  // The first entry in listing order comes first, as a plain scan finds it.
  while (dirent* e = readdir(d)) listed.Add(e->d_name);
  closedir(d);
  // Changes made while the folder was listed are applied over the listing.
  if (listed.watch >= 0) ApplyNotifications();
  auto after = g_names.find(dir);
  return after == g_names.end() ? nullptr : &after->second;
}

// Takes g_namesLock for a sequence of lookups, and applies the
// notifications that arrived once for all of them.
class NamesLookup {
 public:
  NamesLookup() : hold_(g_namesLock) {
    notified_ = NotificationsReady();
    if (notified_) ApplyNotifications();
  }
  // The entry of dir whose name equals name, exactly or else without
  // regard to case; empty when there is none.
  std::string Match(const std::string& dir, const std::string& name) {
    // A name spelt exactly is looked for on disk, without a listing.
    struct stat st;
    if (lstat((dir + "/" + name).c_str(), &st) == 0) return name;
    // Another spelling is taken from the folder's names once the disk
    // confirms it; a spelling gone from the disk means the names are
    // behind it (a change not yet told), and the folder is listed again.
    for (int listing = 0; listing < 2; ++listing) {
      FolderNames* folder = NamesOf(dir, notified_, listing > 0);
      const std::vector<std::string>* spellings = folder ? folder->Find(name) : nullptr;
      if (!spellings) return std::string();
      for (const std::string& spelling : *spellings)
        if (spelling != name && lstat((dir + "/" + spelling).c_str(), &st) == 0) return spelling;
    }
    return std::string();
  }

 private:
  std::lock_guard<std::mutex> hold_;
  bool notified_ = false;
};

std::string MatchEntry(const std::string& dir, const std::string& name) { return NamesLookup().Match(dir, name); }

DWORD ErrnoToError(int e, DWORD notFound = ERROR_FILE_NOT_FOUND) {
  switch (e) {
    case ENOENT: return notFound;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_ACCESS_DENIED;
  }
}

void SetErrno(int e, DWORD notFound = ERROR_FILE_NOT_FOUND) { SetLastError(ErrnoToError(e, notFound)); }

FILETIME ToFileTime(const timespec& ts) {
  uint64_t v = (uint64_t(ts.tv_sec) + 11644473600ULL) * 10000000ULL + uint64_t(ts.tv_nsec) / 100;
  return FILETIME{DWORD(v & 0xFFFFFFFFu), DWORD(v >> 32)};
}

void FillFindData(const std::string& hostPath, const std::string& name, const struct stat& st, WIN32_FIND_DATAW* data) {
  memset(data, 0, sizeof *data);
  DWORD attr = 0;
  if (S_ISDIR(st.st_mode)) attr |= FILE_ATTRIBUTE_DIRECTORY;
  if (access(hostPath.c_str(), W_OK) != 0) attr |= FILE_ATTRIBUTE_READONLY;
  if (!attr) attr = FILE_ATTRIBUTE_ARCHIVE;
  data->dwFileAttributes = attr;
  data->ftCreationTime = ToFileTime(st.st_ctim);
  data->ftLastAccessTime = ToFileTime(st.st_atim);
  data->ftLastWriteTime = ToFileTime(st.st_mtim);
  uint64_t size = S_ISDIR(st.st_mode) ? 0 : uint64_t(st.st_size);
  data->nFileSizeHigh = DWORD(size >> 32);
  data->nFileSizeLow = DWORD(size & 0xFFFFFFFFu);
  std::u16string w = FromUtf8(name);
  if (w.size() >= MAX_PATH) w.resize(MAX_PATH - 1);
  memcpy(data->cFileName, w.data(), w.size() * sizeof(char16_t));
  data->cFileName[w.size()] = 0;
}

class FileObject : public KernelObject {
 public:
  explicit FileObject(int fd) : fd_(fd) {}
  ~FileObject() override {
    if (fd_ >= 0) close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

class FindObject : public KernelObject {
 public:
  std::string dir;
  std::vector<std::string> names;
  size_t next = 0;
  bool card = false;  // the storage cards' listing: folders marked temporary
};

bool DirExists(const std::string& dir) {
  struct stat st;
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool HasWildcard(const std::u16string& s) { return s.find_first_of(u"*?") != std::u16string::npos; }

bool WildMatch(const char16_t* p, const char16_t* n) {
  // Iterative matcher with backtracking on the last '*'.
  const char16_t* star = nullptr;
  const char16_t* mark = nullptr;
  while (*n) {
    if (*p == u'?' || (*p && *p != u'*' && towlower16(*p) == towlower16(*n))) {
      ++p;
      ++n;
    } else if (*p == u'*') {
      star = p++;
      mark = n;
    } else if (star) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (*p == u'*') ++p;
  // "*.*" also matches a name without a dot, as on the device.
  if (*p == u'.' && p[1] == u'*' && !p[2]) return true;
  return !*p;
}

bool CopyHostTree(const std::string& from, const std::string& to) {
  std::error_code ec;
  stdfs::copy(from, to, stdfs::copy_options::recursive | stdfs::copy_options::copy_symlinks, ec);
  return !ec;
}

}  // namespace

std::string DeviceRoot() {
  std::lock_guard<std::mutex> g(g_rootLock);
  if (g_root.empty()) {
    g_root = DefaultRoot();
    std::error_code ec;
    stdfs::create_directories(g_root, ec);
  }
  return g_root;
}

void SetDeviceRoot(const std::string& hostFolder) {
  std::lock_guard<std::mutex> g(g_rootLock);
  g_root = hostFolder;
  std::error_code ec;
  stdfs::create_directories(g_root, ec);
}

bool SameHostFile(LPCWSTR a, LPCWSTR b) {
  struct stat x {}, y {};
  return ::stat(HostPath(a).c_str(), &x) == 0 && ::stat(HostPath(b).c_str(), &y) == 0 && x.st_dev == y.st_dev &&
         x.st_ino == y.st_ino;
}

std::string HostPath(LPCWSTR devicePath) {
  std::string host = DeviceRoot();
  if (!devicePath) return host;
  std::vector<std::u16string> parts = SplitPath(devicePath, u"\\/");
  std::vector<std::string> resolved;
  bool existing = true;
  NamesLookup lookup;
  for (const auto& part : parts) {
    if (part == u".") continue;
    if (part == u"..") {
      // Never climbs above the device root.
      if (!resolved.empty()) resolved.pop_back();
      continue;
    }
    std::string name = ToUtf8(part);
    if (existing) {
      std::string dir = host;
      for (const auto& r : resolved) dir += "/" + r;
      std::string match = lookup.Match(dir, name);
      if (match.empty()) {
        existing = false;
      } else {
        name = match;
      }
    }
    resolved.push_back(name);
  }
  for (const auto& r : resolved) host += "/" + r;
  return host;
}

std::string HostPathA(const char* devicePathUtf8) {
  if (!devicePathUtf8) return HostPath(nullptr);
  return HostPath(FromUtf8(devicePathUtf8).c_str());
}

FILE* DeviceFopen(const char* devicePathUtf8, const char* mode) {
  if (!devicePathUtf8 || !mode) return nullptr;
  return fopen(HostPathA(devicePathUtf8).c_str(), mode);
}

bool WildcardMatch(const char16_t* pattern, const char16_t* name) { return WildMatch(pattern, name); }

std::vector<StorageCard> StorageCards() {
  std::vector<StorageCard> cards;
  std::ifstream in(DeviceRoot() + "/DeviceProfile.txt");
  std::string line;
  auto trim = [](std::string t) {
    const char* space = " \t\r\n";
    size_t a = t.find_first_not_of(space), b = t.find_last_not_of(space);
    return a == std::string::npos ? std::string() : t.substr(a, b - a + 1);
  };
  while (std::getline(in, line)) {
    line = trim(line);
    size_t eq = line.find('=');
    if (eq == std::string::npos || trim(line.substr(0, eq)) != "card") continue;
    std::string value = line.substr(eq + 1);
    size_t comma = value.rfind(',');
    if (comma == std::string::npos) continue;
    std::string name = trim(value.substr(0, comma));
    char* end = nullptr;
    std::string size = trim(value.substr(comma + 1));
    unsigned long long megabytes = std::strtoull(size.c_str(), &end, 10);
    // A card's name is one folder of the device root.
    if (name.empty() || name.find_first_of("\\/") != std::string::npos || name == "." || name == "..") continue;
    if (size.empty() || !end || *end) continue;
    cards.push_back(StorageCard{FromUtf8(name), megabytes * 1024ULL * 1024ULL});
  }
  return cards;
}

}  // namespace qk

namespace {

// The inserted card whose folder holds the device path, if any.
bool CardOfPath(LPCWSTR path, qk::StorageCard* card) {
  std::vector<std::u16string> parts = qk::SplitPath(path, u"\\/");
  if (parts.empty()) return false;
  // The card of that very name first: two cards whose names differ only in
  // case are two folders of the host.
  const std::vector<qk::StorageCard> cards = qk::StorageCards();
  for (int exact = 1; exact >= 0; --exact) {
    for (const qk::StorageCard& c : cards) {
      if (exact ? c.name != parts[0] : qk::LowerCase(c.name) != qk::LowerCase(parts[0])) continue;
      if (!qk::DirExists(qk::HostPath(c.name.c_str()))) return false;
      *card = c;
      return true;
    }
  }
  return false;
}

// The bytes that the files under a host folder take.
unsigned long long UsedBytes(const std::string& folder) {
  unsigned long long used = 0;
  std::error_code ec;
  for (stdfs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code sizeError;
    if (it->is_regular_file(sizeError)) {
      auto size = it->file_size(sizeError);
      if (!sizeError) used += size;
    }
  }
  return used;
}

}  // namespace

BOOL GetDiskFreeSpaceExW(LPCWSTR path, ULARGE_INTEGER* freeToCaller, ULARGE_INTEGER* totalBytes,
                         ULARGE_INTEGER* totalFree) {
  // The host file system: the nearest existing folder of the path.
  std::string host = qk::HostPath(path && *path ? path : u"\\");
  while (!qk::DirExists(host) && host.size() > qk::DeviceRoot().size()) host = stdfs::path(host).parent_path().string();
  struct statvfs vfs;
  if (statvfs(host.c_str(), &vfs) != 0) {
    qk::SetErrno(errno, ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  unsigned long long total = static_cast<unsigned long long>(vfs.f_blocks) * vfs.f_frsize;
  unsigned long long allFree = static_cast<unsigned long long>(vfs.f_bfree) * vfs.f_frsize;
  unsigned long long available = static_cast<unsigned long long>(vfs.f_bavail) * vfs.f_frsize;
  qk::StorageCard card;
  if (path && CardOfPath(path, &card)) {
    // A card holds its own size; what its files take is used, and it can
    // never offer more than the host has free.
    unsigned long long used = UsedBytes(qk::HostPath(card.name.c_str()));
    unsigned long long left = used < card.totalBytes ? card.totalBytes - used : 0;
    total = card.totalBytes;
    allFree = std::min(left, allFree);
    available = std::min(left, available);
  }
  if (freeToCaller) freeToCaller->QuadPart = available;
  if (totalBytes) totalBytes->QuadPart = total;
  if (totalFree) totalFree->QuadPart = allFree;
  return TRUE;
}

HANDLE FindFirstFlashCard(LPWIN32_FIND_DATAW data) {
  if (!data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto find = std::make_shared<qk::FindObject>();
  find->dir = qk::DeviceRoot();
  for (const qk::StorageCard& card : qk::StorageCards()) {
    std::string match = qk::MatchEntry(find->dir, qk::ToUtf8(card.name));
    if (!match.empty() && qk::DirExists(find->dir + "/" + match)) find->names.push_back(match);
  }
  find->card = true;
  HANDLE handle = qk::RegisterHandle(find);
  if (FindNextFileW(handle, data)) return handle;
  CloseHandle(handle);
  SetLastError(ERROR_NO_MORE_FILES);
  return INVALID_HANDLE_VALUE;
}

BOOL FindNextFlashCard(HANDLE find, LPWIN32_FIND_DATAW data) { return FindNextFileW(find, data); }

using qk::FileObject;
using qk::FindObject;

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD /*share*/, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD flags,
                   HANDLE) {
  if (!path || !*path) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::string host = qk::HostPath(path);
  int oflags = O_CLOEXEC;
  bool rd = (access & (GENERIC_READ | GENERIC_ALL)) != 0;
  bool wr = (access & (GENERIC_WRITE | GENERIC_ALL)) != 0;
  oflags |= (rd && wr) ? O_RDWR : wr ? O_WRONLY : O_RDONLY;
  switch (disposition) {
    case CREATE_NEW: oflags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: oflags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: oflags |= O_CREAT; break;
    case TRUNCATE_EXISTING: oflags |= O_TRUNC; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
  }
  if ((oflags & (O_TRUNC)) && !wr) oflags = (oflags & ~O_RDONLY) | O_RDWR;
  struct stat st;
  const bool existed = stat(host.c_str(), &st) == 0;
  if (existed && S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  int fd = open(host.c_str(), oflags, 0666);
  if (fd < 0) {
    int e = errno;
    if (e == EEXIST) {
      SetLastError(ERROR_FILE_EXISTS);
    } else if (e == ENOENT) {
      std::string parent = stdfs::path(host).parent_path().string();
      SetLastError(qk::DirExists(parent) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    } else {
      qk::SetErrno(e);
    }
    return INVALID_HANDLE_VALUE;
  }
  (void)flags;
  // The platform reports an existing file for OPEN_ALWAYS/CREATE_ALWAYS.
  SetLastError(existed && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS) ? ERROR_ALREADY_EXISTS : 0);
  return qk::RegisterHandle(std::make_shared<FileObject>(fd));
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  if (read) *read = 0;
  auto f = qk::LookupHandleAs<FileObject>(file);
  if (!f) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD total = 0;
  auto* p = static_cast<char*>(buffer);
  while (total < toRead) {
    ssize_t n = ::read(f->fd(), p + total, toRead - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      qk::SetErrno(errno);
      if (read) *read = total;
      SetLastError(ERROR_READ_FAULT);
      return FALSE;
    }
    if (n == 0) break;
    total += DWORD(n);
  }
  if (read) *read = total;
  return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
  if (written) *written = 0;
  auto f = qk::LookupHandleAs<FileObject>(file);
  if (!f) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD total = 0;
  const auto* p = static_cast<const char*>(buffer);
  while (total < toWrite) {
    ssize_t n = ::write(f->fd(), p + total, toWrite - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      qk::SetErrno(errno);
      if (written) *written = total;
      return FALSE;
    }
    total += DWORD(n);
  }
  if (written) *written = total;
  return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  auto f = qk::LookupHandleAs<FileObject>(file);
  if (!f) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t off = distanceHigh ? ((int64_t(*distanceHigh) << 32) | uint32_t(distance)) : int64_t(distance);
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
  off_t r = lseek(f->fd(), off, whence);
  if (r < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh) *distanceHigh = LONG(int64_t(r) >> 32);
  SetLastError(0);
  return DWORD(uint64_t(r) & 0xFFFFFFFFu);
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  auto f = qk::LookupHandleAs<FileObject>(file);
  struct stat st;
  if (!f || fstat(f->fd(), &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  if (sizeHigh) *sizeHigh = DWORD(uint64_t(st.st_size) >> 32);
  return DWORD(uint64_t(st.st_size) & 0xFFFFFFFFu);
}

BOOL SetEndOfFile(HANDLE file) {
  auto f = qk::LookupHandleAs<FileObject>(file);
  if (!f) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  off_t pos = lseek(f->fd(), 0, SEEK_CUR);
  if (pos < 0 || ftruncate(f->fd(), pos) != 0) {
    qk::SetErrno(errno);
    return FALSE;
  }
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
  auto f = qk::LookupHandleAs<FileObject>(file);
  if (!f) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return fsync(f->fd()) == 0 ? TRUE : FALSE;
}

BOOL GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME accessTime, LPFILETIME write) {
  auto f = qk::LookupHandleAs<FileObject>(file);
  struct stat st;
  if (!f || fstat(f->fd(), &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (creation) *creation = qk::ToFileTime(st.st_ctim);
  if (accessTime) *accessTime = qk::ToFileTime(st.st_atim);
  if (write) *write = qk::ToFileTime(st.st_mtim);
  return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR path) {
  if (!path) return INVALID_FILE_ATTRIBUTES;
  std::string host = qk::HostPath(path);
  struct stat st;
  if (stat(host.c_str(), &st) != 0) {
    qk::SetErrno(errno);
    return INVALID_FILE_ATTRIBUTES;
  }
  WIN32_FIND_DATAW data;
  qk::FillFindData(host, "", st, &data);
  return data.dwFileAttributes;
}

BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes) {
  std::string host = qk::HostPath(path);
  struct stat st;
  if (stat(host.c_str(), &st) != 0) {
    qk::SetErrno(errno);
    return FALSE;
  }
  mode_t mode = st.st_mode;
  if (attributes & FILE_ATTRIBUTE_READONLY) mode &= ~mode_t(0222);
  else mode |= 0200;
  return chmod(host.c_str(), mode) == 0 ? TRUE : FALSE;
}

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  if (!pattern || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::u16string pat(pattern);
  size_t cut = pat.find_last_of(u"\\/");
  std::u16string dirPart = cut == std::u16string::npos ? u"" : pat.substr(0, cut);
  std::u16string namePart = cut == std::u16string::npos ? pat : pat.substr(cut + 1);
  if (namePart.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::string dir = qk::HostPath(dirPart.c_str());
  auto find = std::make_shared<FindObject>();
  find->dir = dir;
  if (!qk::HasWildcard(namePart)) {
    std::string match = qk::MatchEntry(dir, qk::ToUtf8(namePart));
    if (!match.empty()) find->names.push_back(match);
  } else {
    DIR* d = opendir(dir.c_str());
    if (!d) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    while (dirent* e = readdir(d)) {
      if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
      std::u16string wname = qk::FromUtf8(e->d_name);
      if (qk::WildMatch(namePart.c_str(), wname.c_str())) find->names.push_back(e->d_name);
    }
    closedir(d);
    std::sort(find->names.begin(), find->names.end());
  }
  while (find->next < find->names.size()) {
    const std::string& name = find->names[find->next++];
    std::string host = dir + "/" + name;
    struct stat st;
    if (stat(host.c_str(), &st) != 0) continue;
    qk::FillFindData(host, name, st, data);
    SetLastError(0);
    return qk::RegisterHandle(find);
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return INVALID_HANDLE_VALUE;
}

BOOL FindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW data) {
  auto find = qk::LookupHandleAs<FindObject>(handle);
  if (!find || !data) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  while (find->next < find->names.size()) {
    const std::string& name = find->names[find->next++];
    std::string host = find->dir + "/" + name;
    struct stat st;
    if (stat(host.c_str(), &st) != 0) continue;  // removed meanwhile
    qk::FillFindData(host, name, st, data);
    if (find->card) data->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY;
    return TRUE;
  }
  SetLastError(ERROR_NO_MORE_FILES);
  return FALSE;
}

BOOL FindClose(HANDLE find) {
  if (!qk::LookupHandleAs<FindObject>(find)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return CloseHandle(find);
}

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
  if (!path) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  std::string host = qk::HostPath(path);
  if (mkdir(host.c_str(), 0777) != 0) {
    qk::SetErrno(errno, ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR path) {
  std::string host = qk::HostPath(path);
  if (host == qk::DeviceRoot() || rmdir(host.c_str()) != 0) {
    qk::SetErrno(errno, ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}

BOOL DeleteFileW(LPCWSTR path) {
  if (!path) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  std::string host = qk::HostPath(path);
  struct stat st;
  if (lstat(host.c_str(), &st) != 0) {
    qk::SetErrno(errno);
    return FALSE;
  }
  if (S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (unlink(host.c_str()) != 0) {
    qk::SetErrno(errno);
    return FALSE;
  }
  return TRUE;
}

BOOL MoveFileW(LPCWSTR from, LPCWSTR to) {
  if (!from || !to) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string src = qk::HostPath(from);
  std::string dst = qk::HostPath(to);
  struct stat st;
  if (lstat(src.c_str(), &st) != 0) {
    qk::SetErrno(errno);
    return FALSE;
  }
  struct stat dt;
  if (lstat(dst.c_str(), &dt) == 0 && !(dt.st_ino == st.st_ino && dt.st_dev == st.st_dev)) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  if (rename(src.c_str(), dst.c_str()) == 0) return TRUE;
  if (errno != EXDEV) {
    qk::SetErrno(errno, ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  // Across host file systems: copy, then remove the source.
  if (!qk::CopyHostTree(src, dst)) {
    std::error_code ec;
    stdfs::remove_all(dst, ec);
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  std::error_code ec;
  stdfs::remove_all(src, ec);
  return TRUE;
}

BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
  std::string src = qk::HostPath(from);
  std::string dst = qk::HostPath(to);
  struct stat st;
  if (stat(src.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (failIfExists && access(dst.c_str(), F_OK) == 0) {
    SetLastError(ERROR_FILE_EXISTS);
    return FALSE;
  }
  struct stat old;
  const bool replaces = stat(dst.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  if (replaces && old.st_dev == st.st_dev && old.st_ino == st.st_ino) {
    // A file is never copied onto itself (one reached under a second name).
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  qk::StorageCard card;
  if (to && CardOfPath(to, &card)) {
    // A card holds no more than its size: a copy that does not fit writes
    // what fits and fails, as a full card does.
    unsigned long long used = UsedBytes(qk::HostPath(card.name.c_str()));
    if (replaces)
      used -= std::min<unsigned long long>(used, static_cast<unsigned long long>(old.st_size));
    const unsigned long long left = used < card.totalBytes ? card.totalBytes - used : 0;
    if (static_cast<unsigned long long>(st.st_size) > left) {
      std::ifstream in(src, std::ios::binary);
      std::ofstream out(dst, std::ios::binary | std::ios::trunc);
      std::vector<char> part(static_cast<size_t>(std::min<unsigned long long>(left, 1 << 20)));
      for (unsigned long long written = 0; in && out && written < left;) {
        in.read(part.data(), static_cast<std::streamsize>(std::min<unsigned long long>(part.size(), left - written)));
        if (in.gcount() <= 0) break;
        out.write(part.data(), in.gcount());
        written += static_cast<unsigned long long>(in.gcount());
      }
      SetLastError(ERROR_DISK_FULL);
      return FALSE;
    }
  }
  std::error_code ec;
  stdfs::copy_file(src, dst, stdfs::copy_options::overwrite_existing, ec);
  if (ec) {
    qk::SetErrno(ec.value());
    return FALSE;
  }
  return TRUE;
}

FILE* _wfopen(LPCWSTR path, LPCWSTR mode) {
  if (!path || !mode) return nullptr;
  std::string m = qk::ToUtf8(mode, wcslen(mode));
  return fopen(qk::HostPath(path).c_str(), m.c_str());
}

int _wremove(LPCWSTR path) { return DeleteFileW(path) ? 0 : -1; }
