// The running program as the device sees it. Every deliverable lives in
// "\Program Files\Quillet"; GetModuleFileNameW answers
// "\Program Files\Quillet\<Program>.exe" for the program that set its name
// (Quillet.exe when none did).
#pragma once

#include <initializer_list>
#include <string>

#include "kernel/types.h"

DWORD GetModuleFileNameW(HMODULE module, LPWSTR path, DWORD size);
HMODULE GetModuleHandleW(LPCWSTR name);

// Libraries loaded at run time (a plug-in such as "Corvane.dll"). The device
// name's host shared library is found as a program's host executable is
// (qk::ProgramHostPath): under the device name itself, else as
// "lib<name in lower case>.so" ("Corvane.dll" -> "libcorvane.so"). The
// library is bound against the loading program's own platform layer, which
// that program exports (it is linked with its symbols exported), so both
// share one set of windows, queues and kernel objects. When the library
// exports "DllMain" (module, reason, reserved), it is called with
// DLL_PROCESS_ATTACH after loading and DLL_PROCESS_DETACH before the last
// FreeLibrary. GetProcAddress finds exports by name; ELF libraries carry no
// ordinals, so an ordinal (MAKEINTRESOURCE) finds nothing: a caller that
// knows a plug-in by its ordinals maps them to the names the plug-in
// exports.
typedef void (*FARPROC)();
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3
#ifndef ERROR_MOD_NOT_FOUND
#define ERROR_MOD_NOT_FOUND 126L
#endif
#ifndef ERROR_PROC_NOT_FOUND
#define ERROR_PROC_NOT_FOUND 127L
#endif
HMODULE LoadLibraryW(LPCWSTR name);
FARPROC GetProcAddressW(HMODULE module, const char* name);
#define GetProcAddress GetProcAddressW
BOOL FreeLibrary(HMODULE module);

namespace qk {
void* FindLibraryCall(void* library, const char* name);
// Names the running program ("Quillet.exe", "Ambrel.exe", "Monitor.exe"...).
void SetProgramName(const std::u16string& exeName);
std::u16string ProgramName();
// The device folder of the programs: "\Program Files\Quillet".
std::u16string ProgramFolder();

// A system library the program opens when it first needs it rather than at
// start: the first of the names that loads (it stays loaded), or null.
void* OpenSystemLibrary(std::initializer_list<const char*> names, bool now = false);
// Looks a call of such a library up into *call; false when it lacks it.
template <typename Fn>
bool ResolveCall(void* library, const char* name, Fn* call) {
  *call = reinterpret_cast<Fn>(FindLibraryCall(library, name));
  return *call != nullptr;
}
}  // namespace qk
