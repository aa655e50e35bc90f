// The framework's application object with its profile settings, the
// framework's synchronisation classes, and the one-include header.
//
// Profile settings live in the registry: with SetRegistryKey(company) each
// section is the key HKEY_CURRENT_USER\Software\<company>\<application>\<section>.
//
// The application object is the main thread's CWinThread: AfxWinMain runs
// its InitInstance and, when that returns TRUE, its message loop (Run, with
// idle processing) until WM_QUIT; the result is ExitInstance's.
#pragma once

#include "user/user.h"

#include "framework/coll.h"
#include "framework/cstring.h"
#include "framework/file.h"
#include "framework/thread.h"
#include "kernel/kernel.h"

class CWinApp : public CWinThread {
 public:
  explicit CWinApp(LPCWSTR appName = nullptr);
  ~CWinApp() override;

  BOOL InitInstance() override;
  int ExitInstance() override;

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
  LPCWSTR m_lpCmdLine = u"";
  int m_nCmdShow = SW_SHOWNORMAL;
};

// The application object of the process (the last one constructed), or null.
CWinApp* AfxGetApp();

// Runs the application object: InitInstance, then the message loop when it
// returned TRUE (else ExitInstance at once). Returns the exit code.
int AfxWinMain(HINSTANCE instance, LPCWSTR commandLine, int showCommand);

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

// Shows the wait cursor for as long as it lives, then puts back the cursor
// it replaced, on every way out of the step (an early return, a failure).
// Nested, the inner one leaves the outer one's wait cursor in place.
class CWaitCursor {
 public:
  CWaitCursor() : previous_(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT))) {}
  ~CWaitCursor() { ::SetCursor(previous_); }
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;

 private:
  HCURSOR previous_;
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
