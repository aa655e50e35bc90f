// Processes. Every program of the system lives in the program folder
// "\Program Files\Quillet"; starting "X.exe" there starts the host executable
// built for X (see qk::SetProgramHost for how it is found). The command line
// is one string, split into arguments by the platform's quoting rules; the
// started program reads it back whole with GetCommandLineW. A program that
// ends through ExitProcess hands its full 32-bit exit code to
// GetExitCodeProcess (the host status alone only carries 8 bits).
#pragma once

#include <string>
#include <vector>

#include "kernel/types.h"

struct STARTUPINFOW {
  DWORD cb;
  LPWSTR lpReserved;
  LPWSTR lpDesktop;
  LPWSTR lpTitle;
  DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput, hStdOutput, hStdError;
};
typedef STARTUPINFOW* LPSTARTUPINFOW;

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};
typedef PROCESS_INFORMATION* LPPROCESS_INFORMATION;

#define PROCESS_TERMINATE 0x0001
#define SYNCHRONIZE 0x00100000L
#define PROCESS_QUERY_INFORMATION 0x0400
#define PROCESS_ALL_ACCESS 0x001F0FFF
#ifndef ERROR_BAD_EXE_FORMAT
#define ERROR_BAD_EXE_FORMAT 193L
#endif

// appName is a device path (or null: the first word of cmdLine names the
// program); cmdLine holds the arguments only, as on the device.
BOOL CreateProcessW(LPCWSTR appName, LPWSTR cmdLine, LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD flags, LPVOID environment,
                    LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION info);
// STILL_ACTIVE while the process runs; then its 32-bit exit code (the code
// given to TerminateProcess when it was terminated, 128 + signal number when
// a host signal ended it).
BOOL GetExitCodeProcess(HANDLE process, LPDWORD code);
HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId);
BOOL TerminateProcess(HANDLE process, UINT code);
// The id of the process a handle stands for; 0 for a handle that is none.
DWORD GetProcessId(HANDLE process);
// Ends the program at once: no static destructors or atexit handlers run
// (other threads may still be using what they would free); only what was
// given to qk::AtExitProcess.
[[noreturn]] void ExitProcess(UINT code);
// The command line this program was started with (arguments only).
LPWSTR GetCommandLineW();

namespace qk {
// Runs `step` when the program ends through ExitProcess, as well as at a
// normal exit: for what must not be left behind (files that tell other
// programs this one is there). A step must not wait on a lock that another
// thread could hold; steps run in the order given.
void AtExitProcess(void (*step)());
// Splits a command line as the platform's C runtime does: white space
// separates arguments; double quotes group, and "" inside quotes is one
// quote; 2n backslashes before a quote give n backslashes, 2n+1 give n and a
// literal quote; other backslashes are literal.
std::vector<std::u16string> SplitCommandLine(const std::u16string& line);
// The program arguments argv[1..] (UTF-8) as one command line, each quoted
// where needed so that SplitCommandLine gives it back.
std::u16string JoinCommandLine(int argc, char** argv);
// Sets the command line that GetCommandLineW answers (programs call it from
// main with their arguments when they were not started by CreateProcessW).
void SetCommandLine(const std::u16string& line);

// Where the host executable of a program ("Ambrel.exe") is found, in order:
// a path set here; the folder named by $QUILLET_PROGRAM_DIR; the folder of
// the running executable; the folder named after the program (in lower
// case) beside it, as a build tree lays them out ("../ambrel/"). In a
// folder, the names tried are the program name without ".exe", then in
// lower case.
void SetProgramHost(const std::u16string& exeName, const std::string& hostPath);
std::string ProgramHostPath(const std::u16string& exeName);
}  // namespace qk
