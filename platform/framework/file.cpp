#include "framework/file.h"

#include <cstring>

const HANDLE CFile::hFileNull = INVALID_HANDLE_VALUE;

BOOL CException::GetErrorMessage(LPWSTR message, UINT max, UINT*) const {
  if (!message || max == 0) return FALSE;
  swprintf(message, max, u"%s", u"An unknown error occurred.");
  return TRUE;
}

int CFileException::OsErrorToException(LONG osError) {
  switch (osError) {
    case ERROR_SUCCESS: return none;
    case ERROR_FILE_NOT_FOUND: return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE: return badPath;
    case ERROR_TOO_MANY_OPEN_FILES: return tooManyOpenFiles;
    case ERROR_ACCESS_DENIED: return accessDenied;
    case ERROR_INVALID_HANDLE: return invalidFile;
    case ERROR_SHARING_VIOLATION: return sharingViolation;
    case ERROR_DISK_FULL: return diskFull;
    case ERROR_HANDLE_EOF: return endOfFile;
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT: return hardIO;
    default: return genericException;
  }
}

BOOL CFileException::GetErrorMessage(LPWSTR message, UINT max, UINT*) const {
  if (!message || max == 0) return FALSE;
  static const char16_t* texts[] = {u"No error occurred.",
                                    u"An unspecified error occurred while accessing %s.",
                                    u"%s was not found.",
                                    u"%s contains an invalid path.",
                                    u"%s could not be opened because there are too many open files.",
                                    u"Access to %s was denied.",
                                    u"An invalid file handle was associated with %s.",
                                    u"%s could not be removed because it is the current directory.",
                                    u"%s could not be created because the directory is full.",
                                    u"Seek failed on %s.",
                                    u"A hardware I/O error was reported while accessing %s.",
                                    u"A sharing violation occurred while accessing %s.",
                                    u"A locking violation occurred while accessing %s.",
                                    u"Disk full while accessing %s.",
                                    u"An attempt was made to access %s past its end."};
  int cause = (m_cause >= 0 && m_cause <= endOfFile) ? m_cause : genericException;
  swprintf(message, max, texts[cause], m_strFileName.IsEmpty() ? u"an unnamed file" : m_strFileName.GetString());
  return TRUE;
}

CFile::CFile(LPCWSTR fileName, UINT openFlags) {
  CFileException e;
  if (!Open(fileName, openFlags, &e)) throw new CFileException(e.m_cause, e.m_lOsError, fileName);
}

CFile::~CFile() {
  if (m_hFile != hFileNull) Abort();
}

BOOL CFile::Open(LPCWSTR fileName, UINT openFlags, CFileException* error) {
  if (m_hFile != hFileNull) Abort();
  m_strFileName = fileName;
  DWORD access = 0;
  switch (openFlags & 3) {
    case modeRead: access = GENERIC_READ; break;
    case modeWrite: access = GENERIC_WRITE; break;
    default: access = GENERIC_READ | GENERIC_WRITE; break;
  }
  DWORD disposition;
  if (openFlags & modeCreate) disposition = (openFlags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
  else disposition = OPEN_EXISTING;
  HANDLE h = CreateFileW(fileName, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) {
      LONG os = LONG(GetLastError());
      error->m_lOsError = os;
      error->m_cause = CFileException::OsErrorToException(os);
      error->m_strFileName = fileName;
    }
    return FALSE;
  }
  m_hFile = h;
  return TRUE;
}

void CFile::ThrowLast() const {
  LONG os = LONG(GetLastError());
  throw new CFileException(CFileException::OsErrorToException(os), os, m_strFileName);
}

void CFile::Close() {
  if (m_hFile != hFileNull) {
    BOOL ok = CloseHandle(m_hFile);
    m_hFile = hFileNull;
    if (!ok) ThrowLast();
  }
}

void CFile::Abort() {
  if (m_hFile != hFileNull) {
    CloseHandle(m_hFile);
    m_hFile = hFileNull;
  }
}

UINT CFile::Read(void* buffer, UINT count) {
  if (count == 0) return 0;
  DWORD read = 0;
  if (!ReadFile(m_hFile, buffer, count, &read, nullptr)) ThrowLast();
  return read;
}

void CFile::Write(const void* buffer, UINT count) {
  if (count == 0) return;
  DWORD written = 0;
  if (!WriteFile(m_hFile, buffer, count, &written, nullptr)) ThrowLast();
  if (written != count) {
    throw new CFileException(CFileException::diskFull, ERROR_DISK_FULL, m_strFileName);
  }
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from) {
  LONG high = LONG(offset >> 32);
  DWORD low = SetFilePointer(m_hFile, LONG(offset & 0xFFFFFFFF), &high, from);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) ThrowLast();
  return (ULONGLONG(DWORD(high)) << 32) | low;
}

ULONGLONG CFile::GetPosition() const {
  LONG high = 0;
  DWORD low = SetFilePointer(m_hFile, 0, &high, FILE_CURRENT);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) ThrowLast();
  return (ULONGLONG(DWORD(high)) << 32) | low;
}

ULONGLONG CFile::GetLength() const {
  DWORD high = 0;
  DWORD low = GetFileSize(m_hFile, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) ThrowLast();
  return (ULONGLONG(high) << 32) | low;
}

void CFile::SetLength(ULONGLONG newLength) {
  Seek(LONGLONG(newLength), begin);
  if (!SetEndOfFile(m_hFile)) ThrowLast();
}

void CFile::Flush() {
  if (m_hFile != hFileNull && !FlushFileBuffers(m_hFile)) ThrowLast();
}

void CFile::Remove(LPCWSTR fileName) {
  if (!DeleteFileW(fileName)) {
    LONG os = LONG(GetLastError());
    throw new CFileException(CFileException::OsErrorToException(os), os, fileName);
  }
}

void CFile::Rename(LPCWSTR oldName, LPCWSTR newName) {
  if (!MoveFileW(oldName, newName)) {
    LONG os = LONG(GetLastError());
    throw new CFileException(CFileException::OsErrorToException(os), os, oldName);
  }
}
