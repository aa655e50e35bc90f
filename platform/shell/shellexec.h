// ShellExecuteEx: records every request, and starts the programs of the
// program folder it is given (any "X.exe" that kernel/process.h can map to
// a host executable). A web address ("http://" or "https://") opened with
// the verb "Open" goes to the desktop's URL opener: the host program named by
// $QUILLET_URL_OPENER, else xdg-open, given the address as its one argument;
// when it cannot be started the call fails with ERROR_NO_ASSOCIATION. The
// platform's message composer "\windows\tmail.exe" hands the message of its
// command line (the switches -service, -to, -body and -subject, each with
// its value) to the desktop's mail opener: the host program named by
// $QUILLET_MAIL_OPENER, else xdg-email, given "--utf8 --subject <subject>
// --body <body>" and the address when -to has one, each value one argument
// (the desktop has no messaging accounts: -service is not passed on); when
// it cannot be started the call fails with ERROR_FILE_NOT_FOUND. Other
// targets (documents, the system's report tools such as ":MSREMNET") are
// only recorded, so tests can see what was asked.
#pragma once

#include <string>
#include <vector>

#include "kernel/types.h"

#define SEE_MASK_NOCLOSEPROCESS 0x00000040
#define SEE_MASK_FLAG_NO_UI 0x00000400

struct SHELLEXECUTEINFO {
  DWORD cbSize;
  ULONG fMask;
  HWND hwnd;
  LPCWSTR lpVerb;
  LPCWSTR lpFile;
  LPCWSTR lpParameters;
  LPCWSTR lpDirectory;
  int nShow;
  HINSTANCE hInstApp;
  LPVOID lpIDList;
  LPCWSTR lpClass;
  HKEY hkeyClass;
  DWORD dwHotKey;
  HANDLE hIcon;
  HANDLE hProcess;
};
typedef SHELLEXECUTEINFO* LPSHELLEXECUTEINFO;
typedef SHELLEXECUTEINFO SHELLEXECUTEINFOW;

BOOL ShellExecuteEx(LPSHELLEXECUTEINFO info);
#define ShellExecuteExW ShellExecuteEx

namespace qk::shell {
struct Executed {
  std::u16string verb;
  std::u16string file;
  std::u16string parameters;
  int show;
  bool started;  // a program was started
};
std::vector<Executed> ExecutedCommands();
void ClearExecutedCommands();
}  // namespace qk::shell
