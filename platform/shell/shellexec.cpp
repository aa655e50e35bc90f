// ShellExecuteEx (see shell/shellexec.h).
#include "shell/shellexec.h"

#include <mutex>

#include "kernel/handle.h"
#include "kernel/process.h"

namespace {
std::mutex g_lock;
std::vector<qk::shell::Executed>& Log() {
  static std::vector<qk::shell::Executed> log;
  return log;
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
