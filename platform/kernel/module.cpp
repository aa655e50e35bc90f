#include "kernel/module.h"

#include <dlfcn.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "kernel/kernel.h"
#include "kernel/process.h"
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

namespace {

std::mutex g_libraryLock;
// Loaded libraries and their load counts.
std::map<void*, int>& Libraries() {
  static std::map<void*, int> libraries;
  return libraries;
}

using DllMainProc = BOOL (*)(HMODULE, DWORD, LPVOID);

std::string LibraryHostPath(const std::u16string& name) {
  size_t slash = name.find_last_of(u"\\/");
  std::u16string file = slash == std::u16string::npos ? name : name.substr(slash + 1);
  std::string found = qk::ProgramHostPath(file);
  if (!found.empty()) return found;
  std::u16string base = file;
  size_t dot = base.rfind(u'.');
  if (dot != std::u16string::npos) base.resize(dot);
  for (auto& c : base)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return qk::ProgramHostPath(u"lib" + base + u".so");
}

}  // namespace

HMODULE LoadLibraryW(LPCWSTR name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string path = LibraryHostPath(name);
  if (path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  bool first;
  {
    std::lock_guard<std::mutex> g(g_libraryLock);
    first = ++Libraries()[handle] == 1;
  }
  HMODULE module = reinterpret_cast<HMODULE>(handle);
  if (first) {
    if (auto entry = reinterpret_cast<DllMainProc>(::dlsym(handle, "DllMain"))) {
      if (!entry(module, DLL_PROCESS_ATTACH, nullptr)) {
        {
          std::lock_guard<std::mutex> g(g_libraryLock);
          Libraries().erase(handle);
        }
        ::dlclose(handle);
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
      }
    }
  } else {
    ::dlclose(handle);  // one dlopen reference per loaded library
  }
  return module;
}

FARPROC GetProcAddressW(HMODULE module, const char* name) {
  void* handle = reinterpret_cast<void*>(module);
  {
    std::lock_guard<std::mutex> g(g_libraryLock);
    if (!handle || Libraries().count(handle) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
  }
  if (!name || (reinterpret_cast<uintptr_t>(name) >> 16) == 0) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void* symbol = ::dlsym(handle, name);
  if (!symbol) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
  void* handle = reinterpret_cast<void*>(module);
  {
    std::lock_guard<std::mutex> g(g_libraryLock);
    auto it = handle ? Libraries().find(handle) : Libraries().end();
    if (it == Libraries().end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (--it->second > 0) return TRUE;
    Libraries().erase(it);
  }
  if (auto entry = reinterpret_cast<DllMainProc>(::dlsym(handle, "DllMain"))) entry(module, DLL_PROCESS_DETACH, nullptr);
  ::dlclose(handle);
  return TRUE;
}

namespace qk {

void* OpenSystemLibrary(std::initializer_list<const char*> names, bool now) {
  for (const char* name : names)
    if (void* lib = ::dlopen(name, (now ? RTLD_NOW : RTLD_LAZY) | RTLD_LOCAL)) return lib;
  return nullptr;
}

void* FindLibraryCall(void* library, const char* name) { return library ? ::dlsym(library, name) : nullptr; }

}  // namespace qk
