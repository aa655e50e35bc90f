#include "common/settings.h"

#include <cstring>
#include <mutex>

#include "common/encoding.h"
#include "common/log.h"

namespace {

// Both caches are filled by whichever thread asks first; the lock keeps a
// reader from seeing a half-written path.
std::mutex g_pathLock;
WCHAR g_programFolder[MAX_PATH] = {0};
WCHAR g_dataRoot[MAX_PATH] = {0};

// Copies src into a MAX_PATH buffer, cutting it so it always fits.
void CopyPath(LPWSTR dst, LPCWSTR src) {
  size_t n = wcsnlen(src, MAX_PATH - 1);
  memcpy(dst, src, n * sizeof(WCHAR));
  dst[n] = 0;
}

// Reads a value of a key into a zeroed 520-byte buffer with a size limit of
// 518 bytes, so the text is always terminated (at most 259 characters).
// Returns the registry call's result; the buffer holds whatever was read.
LONG ReadValueText(HKEY key, LPCWSTR name, WCHAR (&buffer)[260]) {
  memset(buffer, 0, sizeof buffer);
  DWORD size = 518;
  DWORD type = 0;
  LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &size);
  buffer[259] = 0;
  return r;
}

HKEY OpenSettingsKey(const CString& keyPath) {
  HKEY key = nullptr;
  LONG r = keyPath.IsEmpty() ? RegOpenKeyExW(HKEY_CURRENT_USER, QUILLET_SETTINGS_KEY, 0, KEY_READ, &key)
                             : RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key);
  return r == ERROR_SUCCESS ? key : nullptr;
}

// A setting read through the application profile when the program has set
// one up, else straight from the same registry key (programs without an
// application object, and tests).
HKEY OpenSection(LPCWSTR section) {
  CString path = CString(u"Software\\") + QUILLET_REGISTRY_COMPANY + u"\\" + QUILLET_REGISTRY_APP + u"\\" + section;
  HKEY key = nullptr;
  return RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) == ERROR_SUCCESS ? key : nullptr;
}

UINT ProfileInt(LPCWSTR section, LPCWSTR entry, int defaultValue) {
  CWinApp* app = AfxGetApp();
  if (app && !app->m_strRegistryKey.IsEmpty()) return app->GetProfileInt(section, entry, defaultValue);
  HKEY key = OpenSection(section);
  if (!key) return UINT(defaultValue);
  DWORD value = 0, size = sizeof value, type = 0;
  LONG r = RegQueryValueExW(key, entry, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
  RegCloseKey(key);
  return (r == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value) ? value : UINT(defaultValue);
}

CString ProfileString(LPCWSTR section, LPCWSTR entry, LPCWSTR defaultValue) {
  CWinApp* app = AfxGetApp();
  if (app && !app->m_strRegistryKey.IsEmpty()) return app->GetProfileString(section, entry, defaultValue);
  HKEY key = OpenSection(section);
  if (!key) return CString(defaultValue);
  WCHAR value[260];
  DWORD type = 0, size = 518;
  memset(value, 0, sizeof value);
  LONG r = RegQueryValueExW(key, entry, nullptr, &type, reinterpret_cast<LPBYTE>(value), &size);
  RegCloseKey(key);
  return (r == ERROR_SUCCESS && type == REG_SZ) ? CString(value) : CString(defaultValue);
}

void ComputeProgramFolder(LPWSTR out) {
  WCHAR module[MAX_PATH] = {0};
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  module[MAX_PATH - 1] = 0;
  // Through the default code page and back, cut at the last backslash.
  char narrow[MAX_PATH * 4] = {0};
  if (!ConvertToMultiByte(narrow, module, sizeof narrow, CP_ACP)) {
    out[0] = 0;
    return;
  }
  if (char* slash = strrchr(narrow, '\\')) *slash = 0;
  if (!ConvertToWide(out, narrow, MAX_PATH, CP_ACP)) out[0] = 0;
}

}  // namespace

void GetProgramFolder(LPWSTR buffer) {
  std::lock_guard<std::mutex> g(g_pathLock);
  if (!g_programFolder[0]) ComputeProgramFolder(g_programFolder);
  CopyPath(buffer, g_programFolder);
}

void GetDataRootFor(BOOL useCard, LPCWSTR cardName, LPWSTR buffer) {
  // The device's program-files folder; a key without the value gives an
  // empty folder name.
  CString programFiles = u"\\Program Files";
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\System\\Explorer\\Shell Folders", 0, KEY_READ, &key) == ERROR_SUCCESS) {
    WCHAR value[260];
    ReadValueText(key, u"Program Files", value);
    programFiles = value;
    RegCloseKey(key);
  }
  CString card(useCard && cardName ? cardName : u"");
  if (useCard && !card.IsEmpty()) {
    CString path = CString(u"\\") + card + programFiles;
    CString quillet = path + u"\\Quillet";
    CString channelData = quillet + u"\\ChannelData";
    if (channelData.GetLength() >= MAX_PATH) {
      // A card path that cannot hold its files: keep the data in the program's folder.
      WriteLog(u"GetDataRoot: storage card path too long");
      GetProgramFolder(buffer);
    } else {
      CreateDirectoryW(path, nullptr);
      CreateDirectoryW(quillet, nullptr);
      CreateDirectoryW(channelData, nullptr);
      CopyPath(buffer, quillet);
    }
  } else {
    GetProgramFolder(buffer);
  }
}

void GetDataRoot(LPWSTR buffer) {
  {
    std::lock_guard<std::mutex> g(g_pathLock);
    if (g_dataRoot[0]) {
      CopyPath(buffer, g_dataRoot);
      return;
    }
  }
  UINT useCard = ProfileInt(u"Settings", u"UseStorageCard", 0);
  CString cardName;
  if (useCard) cardName = ProfileString(u"Settings", u"StorageCardName", u"");
  WCHAR root[MAX_PATH] = {0};
  GetDataRootFor(useCard ? TRUE : FALSE, cardName, root);
  std::lock_guard<std::mutex> g(g_pathLock);
  CopyPath(g_dataRoot, root);
  CopyPath(buffer, g_dataRoot);
}

void ResetCachedPaths() {
  std::lock_guard<std::mutex> g(g_pathLock);
  g_programFolder[0] = 0;
  g_dataRoot[0] = 0;
}

BOOL FileAccess(LPCWSTR path) {
  if (!path) return FALSE;
  CString line = CString(u"FileAccess: ") + path;
  WriteLog(line);
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(path, &data);
  if (find == INVALID_HANDLE_VALUE) return FALSE;
  FindClose(find);
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FALSE : TRUE;
}

CString& GetRegistryString(CString& out, CString valueName, CString keyPath) {
  out.Empty();
  HKEY key = OpenSettingsKey(keyPath);
  if (!key) return out;
  WCHAR value[260];
  ReadValueText(key, valueName, value);
  RegCloseKey(key);
  out = value;
  return out;
}

DWORD GetRegistryDword(LPCWSTR valueName, DWORD defaultValue, LPCWSTR keyPath) {
  HKEY key = OpenSettingsKey(CString(keyPath));
  if (!key) return defaultValue;
  DWORD value = 0, size = sizeof value, type = 0;
  LONG r = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
  RegCloseKey(key);
  return (r == ERROR_SUCCESS && size == sizeof value) ? value : defaultValue;
}
