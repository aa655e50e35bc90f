// Listing the files of a folder with one entry of look-ahead, and moving
// every file of a folder into another.
//
// Use: FindFile(pattern); then call FindNextFile, handle the entry it made
// current, and repeat while it returned TRUE (TRUE means one more entry
// follows; the current entry is valid either way).
#pragma once

#include <ctime>

#include "framework/afx.h"

class CFileFinder {
 public:
  CFileFinder();
  virtual ~CFileFinder();
  CFileFinder(const CFileFinder&) = delete;
  CFileFinder& operator=(const CFileFinder&) = delete;

  virtual BOOL FindNextFile();
  // Starts a search; null searches "\*.*". FALSE when nothing matches.
  virtual BOOL FindFile(LPCWSTR pattern = nullptr);
  virtual BOOL GetCreationTime(time_t& value) const;
  virtual BOOL GetCreationTime(FILETIME* value) const;
  virtual BOOL GetLastAccessTime(FILETIME* value) const;
  virtual BOOL GetLastAccessTime(time_t& value) const;
  virtual BOOL GetLastWriteTime(time_t& value) const;
  virtual BOOL GetLastWriteTime(FILETIME* value) const;
  // TRUE when the current entry's attributes share a bit with the mask.
  virtual BOOL MatchesMask(DWORD mask) const;
  // TRUE for "." and ".." (attributes exactly the directory bit).
  virtual BOOL IsDots() const;

  // The name of the current entry (no folder); empty without one.
  CString GetFileName() const;
  // TRUE when the current entry's attributes are exactly the directory bit.
  BOOL IsDirectory() const;
  // The folder of the pattern given to FindFile.
  CString GetRoot() const { return m_strRoot; }

 private:
  void Close();

  CString m_strRoot;
  HANDLE m_hSearch;
  WIN32_FIND_DATAW* m_pFoundInfo;
  WIN32_FIND_DATAW* m_pNextInfo;
};

// Moves every entry of source into target, except the one named leave
// (compared without regard to case; null leaves nothing). Entries that
// cannot be moved (a name already in the target, an open file) stay.
void MoveFolderFiles(LPCWSTR source, LPCWSTR target, LPCWSTR leave);
