// The framework's file class and its exception, over the device file system.
// As in the framework, Read, Write, Seek and SetLength throw a
// CFileException* on failure (catch it and call Delete()); Open reports
// failure by its result and, when given, fills the exception object.
#pragma once

#include "user/user.h"

#include "framework/cstring.h"
#include "kernel/fs.h"

class CException {
 public:
  virtual ~CException() = default;
  void Delete() { delete this; }
  virtual BOOL GetErrorMessage(LPWSTR message, UINT max, UINT* helpContext = nullptr) const;
};

class CMemoryException : public CException {};

class CFileException : public CException {
 public:
  enum {
    none = 0,
    genericException,
    fileNotFound,
    badPath,
    tooManyOpenFiles,
    accessDenied,
    invalidFile,
    removeCurrentDir,
    directoryFull,
    badSeek,
    hardIO,
    sharingViolation,
    lockViolation,
    diskFull,
    endOfFile
  };
  CFileException(int cause = none, LONG osError = -1, LPCWSTR fileName = nullptr)
      : m_cause(cause), m_lOsError(osError), m_strFileName(fileName) {}
  BOOL GetErrorMessage(LPWSTR message, UINT max, UINT* helpContext = nullptr) const override;
  static int OsErrorToException(LONG osError);

  int m_cause;
  LONG m_lOsError;
  CString m_strFileName;
};

class CFile {
 public:
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareCompat = 0x0000,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeNoInherit = 0x0080,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    typeText = 0x4000,
    typeBinary = 0x8000
  };
  enum SeekPosition { begin = 0, current = 1, end = 2 };
  static const HANDLE hFileNull;

  CFile() = default;
  CFile(LPCWSTR fileName, UINT openFlags);  // throws CFileException* on failure
  virtual ~CFile();
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  virtual BOOL Open(LPCWSTR fileName, UINT openFlags, CFileException* error = nullptr);
  virtual void Close();
  void Abort();  // closes without throwing
  virtual UINT Read(void* buffer, UINT count);
  virtual void Write(const void* buffer, UINT count);
  virtual ULONGLONG Seek(LONGLONG offset, UINT from);
  void SeekToBegin() { Seek(0, begin); }
  ULONGLONG SeekToEnd() { return Seek(0, end); }
  virtual ULONGLONG GetPosition() const;
  virtual ULONGLONG GetLength() const;
  virtual void SetLength(ULONGLONG newLength);
  virtual void Flush();
  CString GetFilePath() const { return m_strFileName; }
  HANDLE m_hFile = hFileNull;

  static void Remove(LPCWSTR fileName);                    // throws on failure
  static void Rename(LPCWSTR oldName, LPCWSTR newName);    // throws on failure

 protected:
  void ThrowLast() const;
  CString m_strFileName;
};
