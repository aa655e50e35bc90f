// Processes over posix_spawn. A child gets the device root, its program name
// and its command line through its environment, so that it sees the same
// device and GetCommandLineW returns the line exactly as it was given. Its
// full exit code travels through a small file "proc-<pid>.exit" in the
// shared kernel folder, written by ExitProcess and read by the parent.
#include "kernel/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "kernel/fs.h"
#include "kernel/module.h"
#include "kernel/sync.h"
#include "kernel/waitable.h"
#include "kernel/wstring.h"

extern char** environ;

namespace qk {
namespace {

std::string ExitFilePath(pid_t pid) { return SharedObjectFolder() + "/proc-" + std::to_string(pid) + ".exit"; }

bool ReadExitFile(pid_t pid, DWORD* code, bool remove) {
  std::string path = ExitFilePath(pid);
  std::ifstream in(path);
  unsigned long value = 0;
  if (!(in >> value)) return false;
  in.close();
  if (remove) ::unlink(path.c_str());
  *code = static_cast<DWORD>(value);
  return true;
}

class ProcessObject : public Waitable {
 public:
  explicit ProcessObject(pid_t p, bool child) : pid(p), isChild(child) {}
  ~ProcessObject() override {
    if (pidfd >= 0) ::close(pidfd);
  }

  // A child ends when the reaper has its status; any other process when its
  // pidfd says so (the host watch wakes the waiters then).
  bool Ready(DWORD) override { return ended || (pidfd >= 0 && PidfdReadable()); }
  bool Acquire(DWORD tid) override { return Ready(tid); }
  void HostProcessEnded(pid_t, uint32_t) override { ended = true; }

  // Under WaitLock().
  DWORD ExitCode() {
    if (!Ready(0)) return STILL_ACTIVE;
    if (terminated) return terminatedCode;
    if (!codeKnown) {
      DWORD fromFile = 0;
      if (ReadExitFile(pid, &fromFile, isChild)) {
        code = fromFile;
      } else if (isChild && WIFEXITED(status)) {
        code = static_cast<DWORD>(WEXITSTATUS(status));
      } else if (isChild && WIFSIGNALED(status)) {
        code = 128u + static_cast<DWORD>(WTERMSIG(status));
      } else {
        code = 0;
      }
      codeKnown = true;
    }
    return code;
  }

  const pid_t pid;
  const bool isChild;
  int pidfd = -1;      // a process opened by id
  bool ended = false;  // set by the reaper or the host watch
  int status = 0;
  bool terminated = false;
  DWORD terminatedCode = 0;
  bool codeKnown = false;
  DWORD code = 0;

 private:
  bool PidfdReadable() const {
    pollfd p{pidfd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
  }
};

// Never signalled: the pseudo handle of this process.
class NeverObject : public Waitable {
 public:
  bool Ready(DWORD) override { return false; }
  bool Acquire(DWORD) override { return false; }
};

std::mutex g_childLock;
std::map<pid_t, std::weak_ptr<ProcessObject>>& Children() {
  static std::map<pid_t, std::weak_ptr<ProcessObject>> children;
  return children;
}

std::map<std::u16string, std::string>& ProgramHosts() {
  static std::map<std::u16string, std::string> hosts;
  return hosts;
}

std::u16string& CommandLineText() {
  static std::u16string line = [] {
    const char* env = std::getenv("QUILLET_COMMAND_LINE");
    return env ? FromUtf8(env) : std::u16string();
  }();
  return line;
}

std::u16string LowerAscii(std::u16string s) {
  for (auto& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return s;
}

bool IsExecutable(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string FindInFolder(const std::string& folder, const std::u16string& exeName) {
  std::u16string base = exeName;
  if (base.size() > 4 && LowerAscii(base.substr(base.size() - 4)) == u".exe") base.resize(base.size() - 4);
  for (const auto& candidate : {base, LowerAscii(base)}) {
    std::string path = folder + "/" + ToUtf8(candidate);
    if (IsExecutable(path)) return path;
  }
  return std::string();
}

}  // namespace

std::shared_ptr<Waitable> ResolveWaitable(HANDLE handle) {
  if (handle == GetCurrentThread()) {
    if (auto self = CurrentThreadObject()) return self;
    return std::make_shared<NeverObject>();
  }
  if (handle == GetCurrentProcess()) return std::make_shared<NeverObject>();
  return LookupHandleAs<Waitable>(handle);
}

std::u16string JoinCommandLine(int argc, char** argv) {
  std::u16string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += u' ';
    std::u16string arg = FromUtf8(argv[i]);
    bool plain = !arg.empty() && arg.find_first_of(u" \t\"") == std::u16string::npos;
    if (plain) {
      line += arg;
      continue;
    }
    line += u'"';
    size_t slashes = 0;
    for (char16_t c : arg) {
      if (c == u'\\') {
        ++slashes;
      } else {
        if (c == u'"') line.append(slashes + 1, u'\\');
        slashes = 0;
      }
      line += c;
    }
    line.append(slashes, u'\\');
    line += u'"';
  }
  return line;
}

std::vector<std::u16string> SplitCommandLine(const std::u16string& line) {
  std::vector<std::u16string> args;
  size_t i = 0, n = line.size();
  for (;;) {
    while (i < n && (line[i] == u' ' || line[i] == u'\t')) ++i;
    if (i >= n) break;
    std::u16string arg;
    bool quoted = false;
    while (i < n) {
      char16_t c = line[i];
      if (!quoted && (c == u' ' || c == u'\t')) break;
      if (c == u'\\') {
        size_t slashes = 0;
        while (i < n && line[i] == u'\\') {
          ++slashes;
          ++i;
        }
        if (i < n && line[i] == u'"') {
          arg.append(slashes / 2, u'\\');
          if (slashes % 2) {
            arg += u'"';
            ++i;
          }
        } else {
          arg.append(slashes, u'\\');
        }
        continue;
      }
      if (c == u'"') {
        if (quoted && i + 1 < n && line[i + 1] == u'"') {
          arg += u'"';
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg += c;
      ++i;
    }
    args.push_back(std::move(arg));
  }
  return args;
}

void SetCommandLine(const std::u16string& line) { CommandLineText() = line; }

void SetProgramHost(const std::u16string& exeName, const std::string& hostPath) {
  std::lock_guard<std::mutex> lock(g_childLock);
  if (hostPath.empty())
    ProgramHosts().erase(LowerAscii(exeName));
  else
    ProgramHosts()[LowerAscii(exeName)] = hostPath;
}

std::string ProgramHostPath(const std::u16string& exeName) {
  {
    std::lock_guard<std::mutex> lock(g_childLock);
    auto it = ProgramHosts().find(LowerAscii(exeName));
    if (it != ProgramHosts().end()) return it->second;
  }
  if (const char* dir = std::getenv("QUILLET_PROGRAM_DIR")) {
    std::string found = FindInFolder(dir, exeName);
    if (!found.empty()) return found;
  }
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::string();
  std::string found = FindInFolder(self.parent_path().string(), exeName);
  if (!found.empty()) return found;
  // In a build tree each program has a folder of its own beside the
  // others' ("quillet/", "ambrel/", "monitor/").
  std::u16string base = exeName;
  if (base.size() > 4 && LowerAscii(base.substr(base.size() - 4)) == u".exe") base.resize(base.size() - 4);
  return FindInFolder((self.parent_path().parent_path() / ToUtf8(LowerAscii(base))).string(), exeName);
}

}  // namespace qk

BOOL CreateProcessW(LPCWSTR appName, LPWSTR cmdLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                    LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION info) {
  std::u16string program = appName ? std::u16string(appName) : std::u16string();
  std::u16string line = cmdLine ? std::u16string(cmdLine) : std::u16string();
  if (program.empty()) {
    auto words = qk::SplitCommandLine(line);
    if (words.empty()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    program = words[0];
    // The rest of the line after the first word.
    size_t at = line.find(program);
    size_t cut = at == std::u16string::npos ? line.size() : at + program.size();
    if (cut < line.size() && line[cut] == u'"') ++cut;
    while (cut < line.size() && (line[cut] == u' ' || line[cut] == u'\t')) ++cut;
    line = line.substr(cut);
  }
  // The program's name is the last component of its device path; a program
  // of the program folder runs its host executable, any other path runs the
  // host file it maps to.
  size_t slash = program.find_last_of(u"\\/");
  std::u16string exeName = slash == std::u16string::npos ? program : program.substr(slash + 1);
  std::string hostPath = qk::ProgramHostPath(exeName);
  if (hostPath.empty()) {
    std::string direct = qk::HostPath(program.c_str());
    if (qk::IsExecutable(direct)) hostPath = direct;
  }
  if (hostPath.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }

  std::vector<std::string> argStore;
  argStore.push_back(hostPath);
  for (const auto& arg : qk::SplitCommandLine(line)) argStore.push_back(qk::ToUtf8(arg));
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> envStore;
  for (char** e = environ; e && *e; ++e) {
    if (std::strncmp(*e, "QUILLET_DEVICE_ROOT=", 20) == 0 || std::strncmp(*e, "QUILLET_COMMAND_LINE=", 21) == 0 ||
        std::strncmp(*e, "QUILLET_PROGRAM_NAME=", 21) == 0)
      continue;
    envStore.push_back(*e);
  }
  envStore.push_back("QUILLET_DEVICE_ROOT=" + qk::DeviceRoot());
  envStore.push_back("QUILLET_COMMAND_LINE=" + qk::ToUtf8(line));
  envStore.push_back("QUILLET_PROGRAM_NAME=" + qk::ToUtf8(exeName));
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  // The child writes its exit file into the shared folder.
  qk::SharedObjectFolder();
  pid_t pid = 0;
  int rc = posix_spawn(&pid, hostPath.c_str(), nullptr, nullptr, argv.data(), envp.data());
  if (rc != 0) {
    SetLastError(rc == ENOEXEC ? ERROR_BAD_EXE_FORMAT : ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  auto process = std::make_shared<qk::ProcessObject>(pid, true);
  {
    std::lock_guard<std::mutex> lock(qk::g_childLock);
    qk::Children()[pid] = process;
  }
  // The reaper collects the child's status and wakes the waiters.
  std::thread([process] {
    int status = 0;
    while (::waitpid(process->pid, &status, 0) < 0 && errno == EINTR) {
    }
    {
      std::lock_guard<std::mutex> lock(qk::WaitLock());
      process->status = status;
      process->ended = true;
    }
    qk::NotifyWaiters();
  }).detach();

  if (info) {
    info->hProcess = qk::RegisterHandle(process);
    info->hThread = qk::RegisterHandle(process);
    info->dwProcessId = static_cast<DWORD>(pid);
    info->dwThreadId = static_cast<DWORD>(pid);
  }
  SetLastError(0);
  return TRUE;
}

BOOL GetExitCodeProcess(HANDLE handle, LPDWORD code) {
  if (handle == GetCurrentProcess() && code) {
    *code = STILL_ACTIVE;
    return TRUE;
  }
  auto process = qk::LookupHandleAs<qk::ProcessObject>(handle);
  if (!process || !code) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(qk::WaitLock());
  *code = process->ExitCode();
  return TRUE;
}

HANDLE OpenProcess(DWORD, BOOL, DWORD processId) {
  pid_t pid = static_cast<pid_t>(processId);
  {
    std::lock_guard<std::mutex> lock(qk::g_childLock);
    auto it = qk::Children().find(pid);
    if (it != qk::Children().end()) {
      if (auto child = it->second.lock()) return qk::RegisterHandle(child);
    }
  }
  int pidfd = pid > 0 ? static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)) : -1;
  if (pidfd < 0) {
    SetLastError(pid <= 0 || errno == ESRCH ? ERROR_INVALID_PARAMETER : ERROR_TOO_MANY_OPEN_FILES);
    return nullptr;
  }
  auto process = std::make_shared<qk::ProcessObject>(pid, false);
  process->pidfd = pidfd;
  if (!qk::WatchHostProcess(pid, 0, process)) {
    std::lock_guard<std::mutex> lock(qk::WaitLock());
    process->ended = true;
  }
  return qk::RegisterHandle(process);
}

DWORD GetProcessId(HANDLE handle) {
  if (handle == GetCurrentProcess()) return GetCurrentProcessId();
  auto process = qk::LookupHandleAs<qk::ProcessObject>(handle);
  if (!process) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return static_cast<DWORD>(process->pid);
}

BOOL TerminateProcess(HANDLE handle, UINT code) {
  if (handle == GetCurrentProcess()) ExitProcess(code);
  auto process = qk::LookupHandleAs<qk::ProcessObject>(handle);
  if (!process) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(qk::WaitLock());
    if (process->Ready(0)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    process->terminated = true;
    process->terminatedCode = code;
  }
  if (::kill(process->pid, SIGKILL) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

namespace {
std::mutex g_exitStepsLock;
std::vector<void (*)()>& ExitSteps() {
  static auto* steps = new std::vector<void (*)()>;
  return *steps;
}
}  // namespace

void qk::AtExitProcess(void (*step)()) {
  std::lock_guard<std::mutex> lock(g_exitStepsLock);
  ExitSteps().push_back(step);
  std::atexit(step);
}

void ExitProcess(UINT code) {
  {
    // A thread still adding a step has not finished making what the step
    // would clear away: the steps are then left undone.
    std::unique_lock<std::mutex> lock(g_exitStepsLock, std::try_to_lock);
    if (lock.owns_lock())
      for (auto step : ExitSteps()) step();
  }
  std::string path = qk::ExitFilePath(::getpid());
  std::string tmp = path + ".tmp";
  if (FILE* f = std::fopen(tmp.c_str(), "w")) {
    std::fprintf(f, "%u\n", code);
    std::fclose(f);
    std::rename(tmp.c_str(), path.c_str());
  }
  std::fflush(nullptr);
  ::_exit(static_cast<int>(code & 0xFF));
}

LPWSTR GetCommandLineW() { return qk::CommandLineText().data(); }

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }
HANDLE GetCurrentProcess() { return INVALID_HANDLE_VALUE; }
