// The cross-process message bus (see user/bus.h).
#include "user/bus.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "kernel/fs.h"
#include "kernel/module.h"
#include "kernel/process.h"
#include "kernel/wstring.h"
#include "user/internal.h"

namespace qk::user {
namespace {

constexpr uint32_t kMagic = 0x51427573;  // "QBus"
// kQuery asks a program whether a handle is one of its live windows; the
// reply's lParam is 1 or 0.
enum Kind : uint32_t { kPost = 1, kSend = 2, kReply = 3, kQuery = 4 };

// How a message's parameters cross to the other program. Pointers mean
// nothing there: the data they point at travels instead, and the receiver
// points the message at its own copy.
enum Marshal : uint32_t {
  kValues = 0,      // wParam and lParam are plain values
  kCopyData = 1,    // WM_COPYDATA: the COPYDATASTRUCT and its bytes
  kStringIn = 2,    // lParam is a NUL-terminated UTF-16 string (the bytes travel)
  kNullString = 3,  // lParam is a null string pointer
  kTextOut = 4,     // WM_GETTEXT: wParam characters of buffer, the text comes back
  kRefused = 5,     // a system message whose pointers cannot travel
};

// How long a program may take to say whether a window is its own.
constexpr DWORD kQueryTimeoutMs = 2000;
// How often a sender waiting for an answer looks whether the peer lives.
constexpr int64_t kLivenessSliceMs = 200;
// The largest reply text: a reply is one datagram.
constexpr size_t kMaxTextOut = 256 * 1024;

struct Packet {
  uint32_t magic;
  uint32_t kind;
  uint64_t hwnd;
  uint32_t msg;
  uint32_t senderPid;
  uint64_t wParam;
  int64_t lParam;
  uint64_t seq;
  uint64_t cdsData;
  uint32_t cbData;
  uint32_t marshal;  // Marshal
};

// System messages (below WM_USER) whose parameters are plain values. The
// others carry pointers: those with a known shape are marshalled, the rest
// are refused both when sent and when they arrive. Messages from WM_USER on
// are the programs' own and travel as values.
bool ValueMessage(UINT msg, LPARAM lParam) {
  if (msg >= WM_USER) return true;
  switch (msg) {
    case WM_NULL: case WM_MOVE: case WM_SIZE: case WM_ACTIVATE: case WM_SETFOCUS: case WM_KILLFOCUS:
    case WM_ENABLE: case WM_SETREDRAW: case WM_GETTEXTLENGTH: case WM_PAINT: case WM_CLOSE: case WM_QUIT:
    case WM_SYSCOLORCHANGE: case WM_SHOWWINDOW: case WM_ACTIVATEAPP: case WM_CANCELMODE: case WM_KEYDOWN:
    case WM_KEYUP: case WM_CHAR: case WM_COMMAND: case WM_SYSCOMMAND: case WM_HSCROLL: case WM_VSCROLL:
    case WM_MOUSEMOVE: case WM_LBUTTONDOWN: case WM_LBUTTONUP: case WM_LBUTTONDBLCLK: case WM_CAPTURECHANGED:
    case WM_HIBERNATE:
      return true;
    case WM_TIMER:  // lParam would be a timer procedure of the sender
      return lParam == 0;
    default:
      return false;
  }
}

// How a message travels: posted messages only as values (nothing would own
// the data until the receiver gets round to it).
Marshal MarshalOf(UINT msg, LPARAM lParam, bool posted, bool broadcast) {
  if (ValueMessage(msg, lParam)) return kValues;
  if (posted) {
    // A setting change that names no section carries no pointer.
    return msg == WM_SETTINGCHANGE && lParam == 0 ? kValues : kRefused;
  }
  switch (msg) {
    case WM_COPYDATA:
      return lParam ? kCopyData : kRefused;
    case WM_SETTEXT:
    case WM_SETTINGCHANGE:
      return lParam ? kStringIn : kNullString;
    case WM_GETTEXT:
      return broadcast ? kRefused : kTextOut;
    default:
      return kRefused;
  }
}

struct Bus {
  std::mutex lock;
  std::string root;  // the device root the socket belongs to
  int fd = -1;
  uint64_t nextSeq = 1;
  std::map<uint64_t, std::shared_ptr<SentMessage>> pending;
  std::map<std::string, UINT> atoms;  // root|lower-case name -> number
};

Bus& TheBus() {
  static Bus* bus = new Bus;  // lives for the process; its thread may outlive main
  return *bus;
}

std::string BusFolder(const std::string& root) {
  std::string folder = root + "/.bus";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return folder;
}

sockaddr_un AddressOf(const std::string& root, DWORD pid, socklen_t* len) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : root) h = (h ^ c) * 1099511628211ull;
  char name[96];
  int n = std::snprintf(name, sizeof name, "quillet-bus-%016llx-%u", static_cast<unsigned long long>(h), pid);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  addr.sun_path[0] = 0;  // abstract name space: nothing left behind on disk
  std::memcpy(addr.sun_path + 1, name, static_cast<size_t>(n));
  *len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
  return addr;
}

void Receive(int fd, std::string root);

// The program's window lists go with it when it ends normally or through
// ExitProcess, so that the next program to list its peers has none of them
// to clear away (a refresh can start Ambrel once for every item). A child
// made by fork that ends through exit leaves its parent's lists alone.
void ForgetListAtExit(const std::string& list) {
  static std::mutex lock;
  static auto* lists = new std::vector<std::string>;
  static const pid_t owner = ::getpid();
  std::lock_guard<std::mutex> guard(lock);
  if (lists->empty())
    qk::AtExitProcess([] {
      if (::getpid() != owner) return;
      std::unique_lock<std::mutex> held(lock, std::try_to_lock);
      if (!held.owns_lock()) return;
      for (const std::string& path : *lists) ::unlink(path.c_str());
    });
  lists->push_back(list);
}

// The bus socket of the current device root; binds it on first use.
int EnsureBus(std::string* rootOut = nullptr) {
  Bus& bus = TheBus();
  std::string root = DeviceRoot();
  std::lock_guard<std::mutex> lock(bus.lock);
  if (bus.fd < 0 || bus.root != root) {
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int size = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    socklen_t len;
    sockaddr_un addr = AddressOf(root, static_cast<DWORD>(::getpid()), &len);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
      ::close(fd);
      return -1;
    }
    // A socket of an earlier device root keeps its thread: a test process
    // that moves to a new root leaves it idle.
    bus.fd = fd;
    bus.root = root;
    std::thread(Receive, fd, root).detach();
    std::string list = BusFolder(root) + "/" + std::to_string(::getpid()) + ".windows";
    // A list under this process id can only be a dead program's: start a
    // fresh one.
    int made = ::open(list.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (made >= 0) ::close(made);
    ForgetListAtExit(list);
  }
  if (rootOut) *rootOut = bus.root;
  return bus.fd;
}

bool SendPacket(int fd, const std::string& root, DWORD pid, const Packet& p, const std::vector<uint8_t>* data) {
  socklen_t len;
  sockaddr_un addr = AddressOf(root, pid, &len);
  iovec iov[2] = {{const_cast<Packet*>(&p), sizeof p}, {nullptr, 0}};
  int count = 1;
  if (data && !data->empty()) {
    iov[1] = {const_cast<uint8_t*>(data->data()), data->size()};
    count = 2;
  }
  msghdr mh{};
  mh.msg_name = &addr;
  mh.msg_namelen = len;
  mh.msg_iov = iov;
  mh.msg_iovlen = static_cast<size_t>(count);
  for (;;) {
    if (::sendmsg(fd, &mh, MSG_NOSIGNAL) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

void Reply(int fd, const std::string& root, DWORD pid, uint64_t seq, LRESULT result,
           const std::vector<uint8_t>* data = nullptr) {
  Packet p{};
  p.magic = kMagic;
  p.kind = kReply;
  p.senderPid = static_cast<uint32_t>(::getpid());
  p.seq = seq;
  p.lParam = result;
  if (data) {
    p.marshal = kTextOut;
    p.cbData = static_cast<uint32_t>(data->size());
  }
  SendPacket(fd, root, pid, p, data);
}

// Points a received message at the program's own copy of its data, or
// answers false when the message may not be delivered as it came.
bool Unpack(const Packet& p, bool posted, std::vector<uint8_t>& data, COPYDATASTRUCT& cds, WPARAM* wParam,
            LPARAM* lParam) {
  *wParam = static_cast<WPARAM>(p.wParam);
  *lParam = static_cast<LPARAM>(p.lParam);
  // The pointer itself stayed behind: a marshalled message is classified as
  // one that had it.
  LPARAM shape = p.marshal == kValues ? static_cast<LPARAM>(p.lParam) : 1;
  Marshal expected = MarshalOf(p.msg, shape, posted, p.hwnd == reinterpret_cast<uintptr_t>(HWND_BROADCAST));
  if (expected == kRefused) return false;
  switch (p.marshal) {
    case kValues:
      return expected == kValues;
    case kCopyData:
      if (p.msg != WM_COPYDATA || posted) return false;
      cds = {static_cast<ULONG_PTR>(p.cdsData), static_cast<DWORD>(data.size()), data.empty() ? nullptr : data.data()};
      *lParam = reinterpret_cast<LPARAM>(&cds);
      return true;
    case kStringIn:
      if (expected != kStringIn && expected != kNullString) return false;
      data.resize(data.size() & ~size_t{1});
      data.push_back(0);
      data.push_back(0);
      *lParam = reinterpret_cast<LPARAM>(data.data());
      return true;
    case kNullString:
      if (expected != kStringIn && expected != kNullString) return false;
      *lParam = 0;
      return true;
    case kTextOut:
      if (expected != kTextOut) return false;
      *wParam = std::min<WPARAM>(*wParam, kMaxTextOut);
      data.assign(*wParam * sizeof(char16_t), 0);
      *lParam = reinterpret_cast<LPARAM>(data.data());
      return true;
    default:
      return false;
  }
}

bool OwnWindow(HWND hwnd) { return IsLocalHandle(hwnd) && IsWindow(hwnd); }

void Receive(int fd, std::string root) {
  // Not cleared first: only what a datagram wrote is ever read.
  constexpr size_t kBuffer = 1 << 20;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBuffer]);
  for (;;) {
    ssize_t n = ::recv(fd, buffer.get(), kBuffer, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (static_cast<size_t>(n) < sizeof(Packet)) continue;
    Packet p;
    std::memcpy(&p, buffer.get(), sizeof p);
    if (p.magic != kMagic) continue;
    HWND target = reinterpret_cast<HWND>(static_cast<uintptr_t>(p.hwnd));
    std::vector<uint8_t> data;
    if (p.marshal != kValues) {
      size_t available = static_cast<size_t>(n) - sizeof p;
      data.assign(buffer.get() + sizeof p, buffer.get() + sizeof p + std::min<size_t>(available, p.cbData));
    }
    switch (p.kind) {
      case kPost: {
        WPARAM wParam;
        LPARAM lParam;
        COPYDATASTRUCT cds{};
        if (!Unpack(p, true, data, cds, &wParam, &lParam)) break;  // a pointer from another program
        if (target == HWND_BROADCAST) {
          for (HWND top : LocalTopLevelWindows()) PostMessageW(top, p.msg, wParam, lParam);
        } else if (IsLocalHandle(target)) {
          PostMessageW(target, p.msg, wParam, lParam);
        }
        break;
      }
      case kQuery:
        Reply(fd, root, p.senderPid, p.seq, OwnWindow(target) ? 1 : 0);
        break;
      case kSend: {
        DWORD sender = p.senderPid;
        uint64_t seq = p.seq;
        if (target == HWND_BROADCAST) {
          // Each local window may take its time: answer from a helper thread
          // so that this thread keeps reading.
          std::thread([=, data = std::move(data)]() mutable {
            COPYDATASTRUCT cds{};
            WPARAM wParam;
            LPARAM lParam;
            if (Unpack(p, false, data, cds, &wParam, &lParam)) {
              DWORD_PTR ignored;
              for (HWND top : LocalTopLevelWindows())
                SendMessageTimeoutW(top, p.msg, wParam, lParam, SMTO_NORMAL, kRemoteSendTimeoutMs, &ignored);
            }
            Reply(fd, root, sender, seq, 0);
          }).detach();
          break;
        }
        auto sm = std::make_shared<SentMessage>();
        sm->hwnd = target;
        sm->msg = p.msg;
        sm->remote = p.marshal == kCopyData && IsRemoteRequest(p.msg, p.cdsData);
        sm->data = std::move(data);
        if (!Unpack(p, false, sm->data, sm->cds, &sm->wParam, &sm->lParam)) {
          Reply(fd, root, sender, seq, 0);  // a pointer from another program
          break;
        }
        if (p.marshal == kTextOut) {
          // The text the window wrote goes back with the answer. The
          // message owns its reply function, so it is reached by address.
          SentMessage* self = sm.get();
          sm->onDone = [fd, root, sender, seq, self](LRESULT result) {
            size_t chars = std::min<size_t>(result > 0 ? static_cast<size_t>(result) : 0, self->wParam);
            std::vector<uint8_t> text(self->data.begin(),
                                      self->data.begin() + static_cast<std::ptrdiff_t>(chars * sizeof(char16_t)));
            Reply(fd, root, sender, seq, static_cast<LRESULT>(chars), &text);
          };
        } else {
          sm->onDone = [fd, root, sender, seq](LRESULT result) { Reply(fd, root, sender, seq, result); };
        }
        if (IsLocalHandle(target))
          Enqueue(sm);
        else
          Complete(sm, 0);
        break;
      }
      case kReply: {
        std::shared_ptr<SentMessage> sm;
        {
          Bus& bus = TheBus();
          std::lock_guard<std::mutex> lock(bus.lock);
          auto it = bus.pending.find(p.seq);
          if (it != bus.pending.end()) {
            sm = it->second;
            bus.pending.erase(it);
          }
        }
        if (sm) {
          if (p.marshal == kTextOut) sm->data = std::move(data);
          Complete(sm, static_cast<LRESULT>(p.lParam));
        }
        break;
      }
      default:
        break;
    }
  }
}

bool Alive(DWORD pid) { return !(::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH); }

// True when a program with this process id has joined the bus of this
// device root: its socket is bound. A process id that a dead program left
// behind and another program now has fails here, unless that program joined
// the bus too (then it has rewritten the list under its id).
bool Joined(const std::string& root, DWORD pid) {
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Alive(pid);
  socklen_t len;
  sockaddr_un addr = AddressOf(root, pid, &len);
  bool joined = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0;
  ::close(fd);
  return joined;
}

// The peers found by the last listing of a bus folder, good for as long as
// the folder's modification time stays the same: joining, leaving and every
// change of a program's window list rename or remove a file there.
struct PeerList {
  dev_t dev = 0;
  ino_t ino = 0;
  timespec mtime{};
  std::vector<DWORD> pids;
};

std::mutex g_peersLock;
std::map<std::string, PeerList> g_peers;  // by bus folder

std::vector<DWORD> ListPeers(const std::string& folder, const std::string& root) {
  std::vector<DWORD> out;
  std::error_code ec;
  DWORD self = static_cast<DWORD>(::getpid());
  for (auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::string name = entry.path().filename().string();
    size_t dot = name.find(".windows");
    if (dot == std::string::npos || dot + 8 != name.size()) continue;
    DWORD pid = static_cast<DWORD>(std::strtoul(name.c_str(), nullptr, 10));
    if (pid == 0 || pid == self) continue;
    if (!Alive(pid) || !Joined(root, pid)) {
      std::filesystem::remove(entry.path(), ec);  // left by a program that died
      continue;
    }
    out.push_back(pid);
  }
  return out;
}

std::vector<DWORD> Peers(const std::string& root) {
  std::string folder = BusFolder(root);
  // File times come from the coarse clock; read it before looking at the
  // folder so that any change from now on leaves a time at least this one.
  timespec now{};
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) return ListPeers(folder, root);
  std::lock_guard<std::mutex> lock(g_peersLock);
  auto it = g_peers.find(folder);
  if (it != g_peers.end() && it->second.dev == st.st_dev && it->second.ino == st.st_ino &&
      it->second.mtime.tv_sec == st.st_mtim.tv_sec && it->second.mtime.tv_nsec == st.st_mtim.tv_nsec) {
    bool allAlive = true;
    for (DWORD pid : it->second.pids) allAlive = allAlive && Alive(pid);
    // A peer that died is cleared away by a fresh listing.
    if (allAlive) return it->second.pids;
  }
  std::vector<DWORD> pids = ListPeers(folder, root);
  // A change within the file clock's current tick (a whole second for times
  // without finer parts) could leave the same time again: keep nothing then.
  timespec tick = now;
  if (st.st_mtim.tv_nsec == 0) tick.tv_sec -= 1;
  bool settled = st.st_mtim.tv_sec < tick.tv_sec || (st.st_mtim.tv_sec == tick.tv_sec && st.st_mtim.tv_nsec < tick.tv_nsec);
  if (settled) {
    // Removing a dead program's list changed the folder: the time read
    // before no longer describes it.
    struct stat after;
    if (::stat(folder.c_str(), &after) == 0 && after.st_mtim.tv_sec == st.st_mtim.tv_sec &&
        after.st_mtim.tv_nsec == st.st_mtim.tv_nsec)
      g_peers[folder] = PeerList{st.st_dev, st.st_ino, st.st_mtim, pids};
    else
      g_peers.erase(folder);
  } else {
    g_peers.erase(folder);
  }
  return pids;
}

// Fills a packet; *data receives the bytes that travel in place of a
// pointer. The packet's marshal is kRefused when the message cannot travel.
Packet MakePacket(Kind kind, HWND target, UINT msg, WPARAM wParam, LPARAM lParam, std::vector<uint8_t>* data) {
  Packet p{};
  p.magic = kMagic;
  p.kind = kind;
  p.hwnd = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(target));
  p.msg = msg;
  p.senderPid = static_cast<uint32_t>(::getpid());
  p.wParam = wParam;
  p.lParam = lParam;
  Marshal how = MarshalOf(msg, lParam, kind == kPost, target == HWND_BROADCAST);
  p.marshal = how;
  data->clear();
  switch (how) {
    case kCopyData: {
      auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      p.cdsData = cds->dwData;
      p.lParam = 0;
      if (cds->cbData && cds->lpData) {
        auto* bytes = static_cast<const uint8_t*>(cds->lpData);
        data->assign(bytes, bytes + cds->cbData);
      }
      break;
    }
    case kStringIn: {
      std::u16string_view text(reinterpret_cast<LPCWSTR>(lParam));
      auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
      data->assign(bytes, bytes + text.size() * sizeof(char16_t));
      p.lParam = 0;
      break;
    }
    case kNullString:
    case kTextOut:
      p.lParam = 0;
      break;
    default:
      break;
  }
  p.cbData = static_cast<uint32_t>(data->size());
  return p;
}

std::string Escape(const std::u16string& s) {
  std::string utf8 = ToUtf8(s);
  for (auto& c : utf8)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return utf8;
}

std::u16string Lower(std::u16string s) {
  for (auto& c : s) c = towlower16(c);
  return s;
}

struct RemoteWindow {
  HWND hwnd;
  std::u16string className;
  std::u16string text;
};

std::vector<RemoteWindow> ReadList(const std::string& root, DWORD pid) {
  std::vector<RemoteWindow> out;
  std::ifstream in(BusFolder(root) + "/" + std::to_string(pid) + ".windows");
  std::string line;
  while (std::getline(in, line)) {
    size_t a = line.find('\t');
    if (a == std::string::npos) continue;
    size_t b = line.find('\t', a + 1);
    if (b == std::string::npos) continue;
    uintptr_t value = std::strtoull(line.substr(0, a).c_str(), nullptr, 16);
    out.push_back({reinterpret_cast<HWND>(value), FromUtf8(line.substr(a + 1, b - a - 1)), FromUtf8(line.substr(b + 1))});
  }
  return out;
}

}  // namespace

void BusWindowsChanged() {
  std::string root;
  if (EnsureBus(&root) < 0) return;
  // One writer at a time, so that the list written last is the newest. A
  // list that has not changed since this program wrote it is not written
  // again while that file is still in place as it was written (not taken
  // away, not emptied by a new join): a window's text set to what it was,
  // or a dialog's making, would otherwise rewrite it several times.
  static std::mutex writing;
  static std::string writtenPath, writtenText;
  static ino_t writtenFile = 0;
  std::lock_guard<std::mutex> one(writing);
  std::ostringstream text;
  // The program's file, on a line of its own (one tab: no window line).
  text << "program\t" << Escape(qk::ProgramFolder() + u"\\" + qk::ProgramName()) << '\n';
  for (auto& info : LocalTopLevelInfo())
    text << std::hex << reinterpret_cast<uintptr_t>(info.hwnd) << std::dec << '\t' << Escape(info.className) << '\t'
         << Escape(info.text) << '\n';
  std::string list = BusFolder(root) + "/" + std::to_string(::getpid()) + ".windows";
  struct stat there{};
  if (list == writtenPath && text.str() == writtenText && ::stat(list.c_str(), &there) == 0 &&
      there.st_ino == writtenFile && static_cast<size_t>(there.st_size) == writtenText.size())
    return;
  // Written whole and renamed, so readers never see half a list.
  std::string tmp = BusFolder(root) + "/." + std::to_string(::getpid()) + ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << text.str();
  }
  struct stat made{};
  const bool known = ::stat(tmp.c_str(), &made) == 0;
  std::error_code ec;
  std::filesystem::rename(tmp, list, ec);
  writtenPath = list;
  writtenText = ec || !known ? std::string() : text.str();
  writtenFile = made.st_ino;
}

bool BusPost(HWND target, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::string root;
  int fd = EnsureBus(&root);
  if (fd < 0) return false;
  std::vector<uint8_t> data;
  Packet p = MakePacket(kPost, target, msg, wParam, lParam, &data);
  if (p.marshal == kRefused) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (target == HWND_BROADCAST) {
    for (DWORD pid : Peers(root)) SendPacket(fd, root, pid, p, &data);
    return true;
  }
  if (!SendPacket(fd, root, HandleProcess(target), p, &data)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  return true;
}

bool BusSend(HWND target, UINT msg, WPARAM wParam, LPARAM lParam, DWORD timeoutMs, LRESULT* result) {
  std::string root;
  int fd = EnsureBus(&root);
  if (fd < 0) return false;
  std::vector<uint8_t> data;
  if (MarshalOf(msg, lParam, false, target == HWND_BROADCAST) == kRefused) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::vector<DWORD> pids = target == HWND_BROADCAST ? Peers(root) : std::vector<DWORD>{HandleProcess(target)};
  std::vector<std::pair<uint64_t, std::shared_ptr<SentMessage>>> waits;
  Bus& bus = TheBus();
  for (DWORD pid : pids) {
    auto sm = std::make_shared<SentMessage>();
    sm->waiter = CurrentQueue();
    Packet p = MakePacket(kSend, target, msg, wParam, lParam, &data);
    {
      std::lock_guard<std::mutex> lock(bus.lock);
      p.seq = bus.nextSeq++;
      bus.pending[p.seq] = sm;
    }
    if (!SendPacket(fd, root, pid, p, &data)) {
      // The peer is gone: nobody will answer.
      std::lock_guard<std::mutex> lock(bus.lock);
      bus.pending.erase(p.seq);
      continue;
    }
    waits.emplace_back(p.seq, sm);
  }
  if (waits.empty()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return pids.empty();
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool all = true;
  bool gone = false;
  for (size_t i = 0; i < waits.size(); ++i) {
    auto& [seq, sm] = waits[i];
    // Waits in slices, so that a program that ends (or crashes) while it
    // owes the answer fails the send at once rather than at the time-out.
    bool answered = false;
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      int64_t slice = std::min<int64_t>(std::max<int64_t>(left.count(), 0), kLivenessSliceMs);
      if (WaitSent(sm, static_cast<DWORD>(slice))) {
        answered = true;
        break;
      }
      if (left.count() <= slice) break;
      if (target != HWND_BROADCAST && !(Alive(pids[0]) && Joined(root, pids[0]))) {
        gone = true;
        break;
      }
    }
    if (!answered) {
      all = false;
      std::lock_guard<std::mutex> lock(bus.lock);
      bus.pending.erase(seq);
      continue;
    }
    std::lock_guard<std::mutex> lock(sm->waiter->lock);
    *result = sm->result;
    if (msg == WM_GETTEXT && lParam && wParam > 0) {
      // The text came back with the answer: into the caller's buffer.
      auto* out = reinterpret_cast<LPWSTR>(lParam);
      size_t chars = std::min({sm->data.size() / sizeof(char16_t), static_cast<size_t>(wParam) - 1,
                               static_cast<size_t>(std::max<LRESULT>(sm->result, 0))});
      if (!sm->data.empty()) std::memcpy(out, sm->data.data(), chars * sizeof(char16_t));
      out[chars] = 0;
      *result = static_cast<LRESULT>(chars);
    }
  }
  if (!all) SetLastError(gone ? ERROR_INVALID_WINDOW_HANDLE : ERROR_TIMEOUT);
  return all;
}

HWND BusFindWindow(LPCWSTR className, LPCWSTR title) {
  std::string root;
  if (EnsureBus(&root) < 0) return nullptr;
  std::u16string cls = className ? Lower(className) : u"";
  std::u16string text = title ? Lower(title) : u"";
  for (DWORD pid : Peers(root)) {
    for (auto& w : ReadList(root, pid)) {
      if (className && Lower(w.className) != cls) continue;
      if (title && Lower(w.text) != text) continue;
      // The list may be a dead program's: only the owner's answer counts.
      if (BusIsWindow(w.hwnd)) return w.hwnd;
    }
  }
  return nullptr;
}

std::vector<TopLevelInfo> BusTopLevelWindows() {
  std::vector<TopLevelInfo> out;
  std::string root;
  if (EnsureBus(&root) < 0) return out;
  for (DWORD pid : Peers(root))
    for (auto& w : ReadList(root, pid))
      if (BusIsWindow(w.hwnd)) out.push_back({w.hwnd, w.className, w.text});
  return out;
}

bool BusClassName(HWND hwnd, std::u16string* className) {
  std::string root;
  if (EnsureBus(&root) < 0) return false;
  for (auto& w : ReadList(root, HandleProcess(hwnd)))
    if (w.hwnd == hwnd && BusIsWindow(hwnd)) {
      *className = w.className;
      return true;
    }
  return false;
}

std::u16string BusProgramPath(DWORD pid) {
  std::string root;
  if (EnsureBus(&root) < 0) return std::u16string();
  std::ifstream in(BusFolder(root) + "/" + std::to_string(pid) + ".windows");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("program\t", 0) == 0) return FromUtf8(line.substr(8));
  return std::u16string();
}

bool BusIsWindow(HWND hwnd) {
  DWORD pid = HandleProcess(hwnd);
  if (pid == 0 || !Alive(pid)) return false;
  std::string root;
  int fd = EnsureBus(&root);
  if (fd < 0) return false;
  // Asks the owning program itself: a process id can outlive its program
  // and come back as another.
  Bus& bus = TheBus();
  auto sm = std::make_shared<SentMessage>();
  sm->waiter = CurrentQueue();
  std::vector<uint8_t> none;
  Packet p = MakePacket(kQuery, hwnd, WM_NULL, 0, 0, &none);
  {
    std::lock_guard<std::mutex> lock(bus.lock);
    p.seq = bus.nextSeq++;
    bus.pending[p.seq] = sm;
  }
  if (!SendPacket(fd, root, pid, p, nullptr)) {
    std::lock_guard<std::mutex> lock(bus.lock);
    bus.pending.erase(p.seq);
    std::error_code ec;  // nobody listens under that id: the list is stale
    std::filesystem::remove(BusFolder(root) + "/" + std::to_string(pid) + ".windows", ec);
    return false;
  }
  if (!WaitSent(sm, kQueryTimeoutMs)) {
    std::lock_guard<std::mutex> lock(bus.lock);
    bus.pending.erase(p.seq);
    return false;
  }
  std::lock_guard<std::mutex> lock(sm->waiter->lock);
  return sm->result == 1;
}

}  // namespace qk::user

UINT RegisterWindowMessageW(LPCWSTR name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  using namespace qk::user;
  std::string root = qk::DeviceRoot();
  std::u16string lower = Lower(name);
  std::string key = root + "|" + qk::ToUtf8(lower);
  Bus& bus = TheBus();
  {
    std::lock_guard<std::mutex> lock(bus.lock);
    auto it = bus.atoms.find(key);
    if (it != bus.atoms.end()) return it->second;
  }
  std::string path = BusFolder(root) + "/atoms";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return 0;
  ::flock(fd, LOCK_EX);
  std::string content;
  char chunk[4096];
  ssize_t n;
  while ((n = ::read(fd, chunk, sizeof chunk)) > 0) content.append(chunk, static_cast<size_t>(n));
  UINT found = 0, next = 0xC000;
  std::istringstream lines(content);
  std::string line;
  std::string wanted = qk::ToUtf8(lower);
  while (std::getline(lines, line)) {
    size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    UINT number = static_cast<UINT>(std::strtoul(line.c_str(), nullptr, 16));
    next = std::max(next, number + 1);
    if (line.substr(tab + 1) == wanted) found = number;
  }
  if (!found && next <= 0xFFFF) {
    char entry[16];
    std::snprintf(entry, sizeof entry, "%04X\t", next);
    std::string record = entry + wanted + "\n";
    if (::pwrite(fd, record.data(), record.size(), static_cast<off_t>(content.size())) ==
        static_cast<ssize_t>(record.size()))
      found = next;
  }
  ::close(fd);
  if (found) {
    std::lock_guard<std::mutex> lock(bus.lock);
    bus.atoms[key] = found;
  }
  return found;
}

namespace qk {
void JoinMessageBus() {
  user::EnsureBus();
  user::BusWindowsChanged();
}
std::vector<DWORD> MessageBusPeers() {
  std::string root;
  if (user::EnsureBus(&root) < 0) return {};
  return user::Peers(root);
}
}  // namespace qk
