#include "common/file_finder.h"

#include "kernel/kernel.h"

namespace {

// A file time to the framework's time value (seconds since 1970).
time_t FileTimeToTime(const FILETIME& ft) {
  int64_t v = int64_t((uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return time_t((v - 116444736000000000LL) / 10000000);
}

}  // namespace

CFileFinder::CFileFinder() : m_hSearch(nullptr), m_pFoundInfo(nullptr), m_pNextInfo(nullptr) {}

CFileFinder::~CFileFinder() { Close(); }

void CFileFinder::Close() {
  if (m_hSearch) FindClose(m_hSearch);
  m_hSearch = nullptr;
  delete m_pFoundInfo;
  delete m_pNextInfo;
  m_pFoundInfo = nullptr;
  m_pNextInfo = nullptr;
}

BOOL CFileFinder::FindFile(LPCWSTR pattern) {
  Close();
  CString search(pattern ? pattern : u"\\*.*");
  int slash = search.ReverseFind(u'\\');
  if (slash < 0) m_strRoot.Empty();
  else if (slash == 0) m_strRoot = search.Left(1);  // the root folder "\\"
  else m_strRoot = search.Left(slash);
  m_pNextInfo = new WIN32_FIND_DATAW();
  HANDLE h = FindFirstFileW(search, m_pNextInfo);
  if (h == INVALID_HANDLE_VALUE || h == nullptr) {
    Close();
    return FALSE;
  }
  m_hSearch = h;
  return TRUE;
}

BOOL CFileFinder::FindNextFile() {
  if (!m_hSearch || !m_pNextInfo) return FALSE;
  if (!m_pFoundInfo) m_pFoundInfo = new WIN32_FIND_DATAW();
  WIN32_FIND_DATAW* swap = m_pFoundInfo;
  m_pFoundInfo = m_pNextInfo;
  m_pNextInfo = swap;
  return FindNextFileW(m_hSearch, m_pNextInfo);
}

CString CFileFinder::GetFileName() const { return m_pFoundInfo ? CString(m_pFoundInfo->cFileName) : CString(); }

BOOL CFileFinder::IsDirectory() const {
  return m_pFoundInfo && m_pFoundInfo->dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY;
}

BOOL CFileFinder::IsDots() const {
  if (!IsDirectory()) return FALSE;
  const WCHAR* n = m_pFoundInfo->cFileName;
  return (n[0] == u'.' && n[1] == 0) || (n[0] == u'.' && n[1] == u'.' && n[2] == 0);
}

BOOL CFileFinder::MatchesMask(DWORD mask) const {
  return m_pFoundInfo && (m_pFoundInfo->dwFileAttributes & mask) != 0;
}

BOOL CFileFinder::GetCreationTime(FILETIME* value) const {
  if (!m_pFoundInfo || !value) return FALSE;
  *value = m_pFoundInfo->ftCreationTime;
  return TRUE;
}

BOOL CFileFinder::GetCreationTime(time_t& value) const {
  if (!m_pFoundInfo) return FALSE;
  value = FileTimeToTime(m_pFoundInfo->ftCreationTime);
  return TRUE;
}

BOOL CFileFinder::GetLastAccessTime(FILETIME* value) const {
  if (!m_pFoundInfo || !value) return FALSE;
  *value = m_pFoundInfo->ftLastAccessTime;
  return TRUE;
}

BOOL CFileFinder::GetLastAccessTime(time_t& value) const {
  if (!m_pFoundInfo) return FALSE;
  value = FileTimeToTime(m_pFoundInfo->ftLastAccessTime);
  return TRUE;
}

BOOL CFileFinder::GetLastWriteTime(FILETIME* value) const {
  if (!m_pFoundInfo || !value) return FALSE;
  *value = m_pFoundInfo->ftLastWriteTime;
  return TRUE;
}

BOOL CFileFinder::GetLastWriteTime(time_t& value) const {
  if (!m_pFoundInfo) return FALSE;
  value = FileTimeToTime(m_pFoundInfo->ftLastWriteTime);
  return TRUE;
}

void MoveFolderFiles(LPCWSTR source, LPCWSTR target, LPCWSTR leave) {
  if (!source || !target) return;
  CFileFinder finder;
  CString pattern(source);
  pattern += u"\\*.*";
  if (!finder.FindFile(pattern)) return;
  BOOL more;
  do {
    more = finder.FindNextFile();
    CString name = finder.GetFileName();
    if (leave && name.CompareNoCase(leave) == 0) continue;
    CString from, to;
    from.Format(u"%s\\%s", source, name.GetString());
    to.Format(u"%s\\%s", target, name.GetString());
    MoveFileW(from, to);
  } while (more);
}
