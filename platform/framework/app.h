// The framework's application object with its profile settings, the
// framework's synchronisation classes, and the one-include header.
//
// Profile settings live in the registry: with SetRegistryKey(company) each
// section is the key HKEY_CURRENT_USER\Software\<company>\<application>\<section>.
#pragma once

#include "framework/coll.h"
#include "framework/cstring.h"
#include "framework/file.h"
#include "kernel/kernel.h"

class CWinApp {
 public:
  explicit CWinApp(LPCWSTR appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  void SetRegistryKey(LPCWSTR company);
  UINT GetProfileInt(LPCWSTR section, LPCWSTR entry, int defaultValue);
  CString GetProfileString(LPCWSTR section, LPCWSTR entry, LPCWSTR defaultValue = nullptr);
  BOOL WriteProfileInt(LPCWSTR section, LPCWSTR entry, int value);
  // A null value deletes the entry; a null entry deletes the whole section.
  BOOL WriteProfileString(LPCWSTR section, LPCWSTR entry, LPCWSTR value);

  // The key of a section, created when missing; close it with RegCloseKey.
  HKEY GetSectionKey(LPCWSTR section);
  HKEY GetAppRegistryKey();

  CString m_strAppName;
  CString m_strRegistryKey;
  LPCWSTR m_pszAppName = nullptr;
  LPCWSTR m_pszRegistryKey = nullptr;
  HINSTANCE m_hInstance = nullptr;
};

// The application object of the process (the last one constructed), or null.
CWinApp* AfxGetApp();

class CSyncObject {
 public:
  virtual ~CSyncObject() = default;
  virtual BOOL Lock(DWORD timeout = INFINITE) = 0;
  virtual BOOL Unlock() = 0;
};

class CCriticalSection : public CSyncObject {
 public:
  CCriticalSection() { InitializeCriticalSection(&m_sect); }
  ~CCriticalSection() override { DeleteCriticalSection(&m_sect); }
  CCriticalSection(const CCriticalSection&) = delete;
  CCriticalSection& operator=(const CCriticalSection&) = delete;
  BOOL Lock(DWORD = INFINITE) override {
    EnterCriticalSection(&m_sect);
    return TRUE;
  }
  BOOL Unlock() override {
    LeaveCriticalSection(&m_sect);
    return TRUE;
  }
  operator CRITICAL_SECTION*() { return &m_sect; }
  CRITICAL_SECTION m_sect;
};

class CSingleLock {
 public:
  explicit CSingleLock(CSyncObject* object, BOOL initialLock = FALSE) : object_(object) {
    if (initialLock) Lock();
  }
  ~CSingleLock() { Unlock(); }
  BOOL Lock(DWORD timeout = INFINITE) {
    if (!locked_ && object_ && object_->Lock(timeout)) locked_ = true;
    return locked_;
  }
  BOOL Unlock() {
    if (locked_ && object_) object_->Unlock();
    locked_ = false;
    return TRUE;
  }
  BOOL IsLocked() const { return locked_; }

 private:
  CSyncObject* object_;
  bool locked_ = false;
};
