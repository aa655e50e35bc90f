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

// Starts the desktop program named by the environment variable (else the
// fallback) with the arguments, each one argument, never through a shell.
// The program runs on its own; a thread reaps it. FALSE when it could not
// be started.
bool StartDesktopProgram(const char* variable, const char* fallback, std::vector<std::string> args) {
  const char* env = std::getenv(variable);
  std::string program = env && *env ? env : fallback;
  std::vector<char*> argv{program.data()};
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
  std::thread([pid] {
    int status = 0;
    waitpid(pid, &status, 0);
  }).detach();
  return true;
}

// Hands a web address to the desktop's URL opener.
bool OpenWebAddress(const std::u16string& url) {
  return StartDesktopProgram("QUILLET_URL_OPENER", "xdg-open", {qk::ToUtf8(url)});
}

std::u16string Lower(std::u16string text) {
  for (char16_t& c : text)
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
  return text;
}

// The platform's message composer, "\windows\tmail.exe" (either slash,
// any case).
bool IsMailComposer(const std::u16string& file) {
  std::u16string f = Lower(file);
  for (char16_t& c : f)
    if (c == u'/') c = u'\\';
  return f == u"\\windows\\tmail.exe";
}

// The composer: its command line (-service, -to, -body, -subject, each
// followed by its value) becomes a message of the desktop's mail opener.
bool ComposeMail(const std::u16string& parameters) {
  std::u16string to, body, subject;
  auto args = qk::SplitCommandLine(parameters);
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    const std::u16string name = Lower(args[i]);
    std::u16string* value = name == u"-to" ? &to : name == u"-body" ? &body : name == u"-subject" ? &subject : nullptr;
    if (name == u"-service" || value) {
      if (value) *value = args[i + 1];
      ++i;
    }
  }
  std::vector<std::string> argv{"--utf8", "--subject", qk::ToUtf8(subject), "--body", qk::ToUtf8(body)};
  if (!to.empty()) argv.push_back(qk::ToUtf8(to));
  return StartDesktopProgram("QUILLET_MAIL_OPENER", "xdg-email", std::move(argv));
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
  if (IsMailComposer(file)) {
    ok = ComposeMail(record.parameters);
    record.started = ok;
    if (!ok) SetLastError(ERROR_FILE_NOT_FOUND);
  } else if (program && !qk::ProgramHostPath(name).empty()) {
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
