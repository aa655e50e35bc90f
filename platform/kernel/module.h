// The running program as the device sees it. Every deliverable lives in
// "\Program Files\Quillet"; GetModuleFileNameW answers
// "\Program Files\Quillet\<Program>.exe" for the program that set its name
// (Quillet.exe when none did).
#pragma once

#include <string>

#include "kernel/types.h"

DWORD GetModuleFileNameW(HMODULE module, LPWSTR path, DWORD size);
HMODULE GetModuleHandleW(LPCWSTR name);

namespace qk {
// Names the running program ("Quillet.exe", "Ambrel.exe", "Monitor.exe"...).
void SetProgramName(const std::u16string& exeName);
std::u16string ProgramName();
// The device folder of the programs: "\Program Files\Quillet".
std::u16string ProgramFolder();
}  // namespace qk
