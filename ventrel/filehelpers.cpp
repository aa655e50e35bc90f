#include "ventrel/filehelpers.h"

#include <functional>

#include "common/encoding.h"

namespace {

// Calls visit with every entry of folder that matches the wildcard.
void ForEachEntry(const CString& folder, LPCWSTR wildcard, const std::function<void(const WIN32_FIND_DATAW&)>& visit) {
  CString pattern;
  pattern.Format(u"%s\\%s", folder.GetString(), wildcard);
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(pattern, &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    visit(data);
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

}  // namespace

BOOL CreateFolderPath(const CString& path) {
  int first = path.Find(u'\\');
  int last = path.ReverseFind(u'\\');
  for (int i = first; i >= 0 && i <= last; i = path.Find(u'\\', i + 1)) {
    if (i > 0) CreateDirectoryW(path.Left(i), nullptr);
    if (i == last) break;
  }
  return TRUE;
}

void RemoveEmptyParents(const CString& path, const CString& stop) {
  CString folder = path;
  while (StripLastPathPart(folder) && !folder.IsEmpty() && folder.CompareNoCase(stop) != 0) {
    if (!RemoveDirectoryW(folder)) break;
  }
}

BOOL StripLastPathPart(CString& path) {
  int slash = path.ReverseFind(u'\\');
  if (slash < 0) return FALSE;
  path.Truncate(slash);
  return TRUE;
}

BOOL DeleteFolderTree(const CString& folder) {
  ForEachEntry(folder, u"*.*", [&](const WIN32_FIND_DATAW& data) {
    CString child;
    child.Format(u"%s\\%s", folder.GetString(), data.cFileName);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) DeleteFolderTree(child);
    else DeleteFileW(child);
  });
  return RemoveDirectoryW(folder);
}

BOOL FileExists(const CString& path) {
  HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FALSE;
  CloseHandle(h);
  return TRUE;
}

BOOL IsFolder(const CString& path) {
  DWORD a = GetFileAttributesW(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

BOOL GetFileWriteTime(const CString& path, FILETIME& time) {
  HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FALSE;
  BOOL ok = GetFileTime(h, nullptr, nullptr, &time);
  CloseHandle(h);
  return ok;
}

BOOL UpdateFileWriteTime(const CString& path, FILETIME& stored) {
  FILETIME now;
  if (!GetFileWriteTime(path, now)) {
    if (stored.dwLowDateTime == 0 && stored.dwHighDateTime == 0) return FALSE;
    stored.dwLowDateTime = stored.dwHighDateTime = 0;
    return TRUE;
  }
  if (CompareFileTime(&now, &stored) == 0) return FALSE;
  stored = now;
  return TRUE;
}

int ReverseFindChar(LPCWSTR text, WCHAR ch) {
  if (!text) return -1;
  const WCHAR* p = wcsrchr(text, ch);
  return p ? int(p - text) : -1;
}

void ListShortcuts(const CString& folder, FILE* file) {
  ForEachEntry(folder, u"*.lnk", [&](const WIN32_FIND_DATAW& data) {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return;
    CString line;
    line.Format(u"%s|%s\\%s\n", data.cFileName, folder.GetString(), data.cFileName);
    std::string bytes = qk::ToUtf8(line.str());
    fwrite(bytes.data(), 1, bytes.size(), file);
  });
  ForEachEntry(folder, u"*.*", [&](const WIN32_FIND_DATAW& data) {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    CString sub;
    sub.Format(u"%s\\%s", folder.GetString(), data.cFileName);
    ListShortcuts(sub, file);
  });
}

void DeleteFileIfPresent(const char* path8) {
  if (!path8) return;
  WCHAR path[MAX_PATH];
  if (!ConvertToWide(path, path8, MAX_PATH, CP_ACP)) return;
  if (FileExists(path)) DeleteFileW(path);
}

void CopyTextBounded(LPCWSTR text, LPWSTR buffer, int size) {
  if (!buffer || size <= 0) return;
  int i = 0;
  for (; text && text[i] && i < size - 1; ++i) buffer[i] = text[i];
  buffer[i] = 0;
}

LPSTR WideToMultiByte(LPSTR dst, LPCWSTR src, int dstSize) { return ConvertToMultiByte(dst, src, dstSize, CP_ACP); }
LPWSTR MultiByteToWide(LPWSTR dst, LPCSTR src, int dstSize) { return ConvertToWide(dst, src, dstSize, CP_ACP); }

long long CurrentUnixTime() { return qk::WallClockMs() / 1000; }
