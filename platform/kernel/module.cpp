#include "kernel/module.h"

#include <cstring>
#include <mutex>

#include "kernel/wstring.h"

namespace qk {

namespace {
std::mutex g_nameLock;
std::u16string g_programName = u"Quillet.exe";
}  // namespace

void SetProgramName(const std::u16string& exeName) {
  std::lock_guard<std::mutex> g(g_nameLock);
  g_programName = exeName;
}

std::u16string ProgramName() {
  std::lock_guard<std::mutex> g(g_nameLock);
  return g_programName;
}

std::u16string ProgramFolder() { return u"\\Program Files\\Quillet"; }

}  // namespace qk

DWORD GetModuleFileNameW(HMODULE, LPWSTR path, DWORD size) {
  if (!path || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::u16string full = qk::ProgramFolder() + u"\\" + qk::ProgramName();
  if (full.size() + 1 > size) {
    // Cut to the buffer, terminated, as the platform does.
    memcpy(path, full.data(), (size - 1) * sizeof(char16_t));
    path[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  memcpy(path, full.c_str(), (full.size() + 1) * sizeof(char16_t));
  return DWORD(full.size());
}

HMODULE GetModuleHandleW(LPCWSTR name) {
  if (name && *name && _wcsicmp(name, qk::ProgramName().c_str()) != 0) return nullptr;
  // One fixed base address per process image, as on the device.
  return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x00010000));
}
