// ShellExecuteEx (see shell/shellexec.h).
#include "shell/shellexec.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "kernel/handle.h"
#include "kernel/process.h"
#include "kernel/wstring.h"

extern char** environ;

namespace {
std::mutex g_lock;
std::vector<qk::shell::Executed>& Log() {
  static std::vector<qk::shell::Executed> log;
  return log;
}
// A web address ("http://" or "https://", any case) opened with the verb
// "Open" or none.
bool IsWebAddress(const std::u16string& file, const std::u16string& verb) {
  if (!verb.empty()) {
    std::u16string v;
    for (char16_t c : verb) v += (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
    if (v != u"open") return false;
  }
  std::u16string head;
  for (size_t i = 0; i < file.size() && i < 8; ++i) {
    char16_t c = file[i];
    head += (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
  }
  return head.rfind(u"http://", 0) == 0 || head.rfind(u"https://", 0) == 0;
}

// Hands a web address to the desktop's URL opener ($QUILLET_URL_OPENER, else
// xdg-open) as one argument, never through a shell. The opener runs on its
// own; a thread reaps it. FALSE when it could not be started.
bool OpenWebAddress(const std::u16string& url) {
  const char* env = std::getenv("QUILLET_URL_OPENER");
  std::string opener = env && *env ? env : "xdg-open";
  std::string arg = qk::ToUtf8(url);
  char* argv[] = {opener.data(), arg.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, opener.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
  std::thread([pid] {
    int status = 0;
    waitpid(pid, &status, 0);
  }).detach();
  return true;
}

}  // namespace

BOOL ShellExecuteEx(LPSHELLEXECUTEINFO info) {
  if (!info || !info->lpFile || !*info->lpFile) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  qk::shell::Executed record{info->lpVerb ? info->lpVerb : u"", info->lpFile,
                             info->lpParameters ? info->lpParameters : u"", info->nShow, false};
  info->hProcess = nullptr;
  std::u16string file = info->lpFile;
  size_t slash = file.find_last_of(u"\\/");
  std::u16string name = slash == std::u16string::npos ? file : file.substr(slash + 1);
  bool program = name.size() > 4 && (name.substr(name.size() - 4) == u".exe" || name.substr(name.size() - 4) == u".EXE");
  BOOL ok = TRUE;
  if (program && !qk::ProgramHostPath(name).empty()) {
    std::u16string line = record.parameters;
    PROCESS_INFORMATION pi{};
    ok = CreateProcessW(file.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi);
    if (ok) {
      record.started = true;
      CloseHandle(pi.hThread);
      if (info->fMask & SEE_MASK_NOCLOSEPROCESS)
        info->hProcess = pi.hProcess;
      else
        CloseHandle(pi.hProcess);
    }
  }
  else if (IsWebAddress(file, record.verb)) {
    ok = OpenWebAddress(file);
    record.started = ok;
    if (!ok) SetLastError(ERROR_NO_ASSOCIATION);
  }
  std::lock_guard<std::mutex> g(g_lock);
  Log().push_back(record);
  return ok;
}

namespace qk::shell {
std::vector<Executed> ExecutedCommands() {
  std::lock_guard<std::mutex> g(g_lock);
  return Log();
}
void ClearExecutedCommands() {
  std::lock_guard<std::mutex> g(g_lock);
  Log().clear();
}
}  // namespace qk::shell
