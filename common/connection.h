// The data connection: a wrapper of the connection manager that maps a URL
// to its destination network, probes whether a connection can be had at
// once, and otherwise holds a connection open on a thread of its own,
// reporting its state by broadcasting WM_CONNECTION_STATUS.
#pragma once

#include <atomic>
#include <mutex>

#include "framework/afx.h"
#include "kernel/kernel.h"
#include "net/connmgr.h"
#include "user/user.h"

// Broadcast with wParam 16 (established), 32 (released), 36 (no fast
// connection) or 41 (the probe failed).
#define WM_CONNECTION_STATUS 0x806
#define CONNECTION_STATUS_ESTABLISHED 16
#define CONNECTION_STATUS_RELEASED 32
#define CONNECTION_STATUS_NO_FAST_PATH 36
#define CONNECTION_STATUS_PROBE_FAILED 41

// The URL that stands for the Internet destination network.
#define CONNECTION_TEST_URL u"http://www.google.com/"

class CConnection {
 public:
  CConnection();
  virtual ~CConnection();

  virtual HRESULT OnStatusChange(DWORD status);
  virtual HRESULT OnConnecting();
  virtual HRESULT OnError();
  virtual HRESULT OnConnected();
  virtual HRESULT OnDisconnected();
  virtual HRESULT OnWaiting();
  virtual HRESULT OnReleased();

  HRESULT MapUrl(LPCWSTR url, BOOL proxy);
  HRESULT Probe(LPCWSTR url, BOOL proxy);
  BOOL QueryProxy(HANDLE connection);
  HRESULT Connect(LPCWSTR url, BOOL proxy);
  void Log(LPCWSTR format, ...);

  // Ends the connection thread, if any, and waits for it.
  void StopThread();
  BOOL HasThread() const { return m_hThread != nullptr; }
  DWORD LastStatus() const { return m_dwLastStatus; }
  BOOL ProxyFound();
  PROXY_CONFIG ProxyConfig();

 protected:
  static DWORD ThreadProc(LPVOID param);
  DWORD Run();

  // The user-interface thread (probe, connect) and the connection thread
  // (its handlers) both use the URL copy and the proxy record: the lock
  // keeps one from freeing or rewriting what the other reads.
  std::mutex m_lock;
  LPWSTR m_pszUrl = nullptr;
  std::atomic<BOOL> m_bProxy{FALSE};
  HANDLE m_hConnection = nullptr;
  BOOL m_bCache = FALSE;
  GUID m_guidDestNet{};
  std::atomic<DWORD> m_dwLastStatus{0};
  HANDLE m_hWakeEvent = nullptr;
  HANDLE m_hThread = nullptr;
  std::atomic<BOOL> m_bProxyFound{FALSE};
  PROXY_CONFIG m_proxyConfig{};
  HWND m_hLogWindow = nullptr;
  // Raised before the wake event is signalled, so a stop that comes before
  // the thread starts waiting is not lost.
  std::atomic<bool> m_bStopRequested{false};
};

class CLoggedConnection : public CConnection {
 public:
  // The thread calls this class's handlers: it must end before they go.
  ~CLoggedConnection() override { StopThread(); }
  HRESULT OnConnecting() override;
  HRESULT OnError() override;
  HRESULT OnConnected() override;
  HRESULT OnDisconnected() override;
  HRESULT OnWaiting() override;
  HRESULT OnReleased() override;
};

// The one connection object of the program.
extern CLoggedConnection theConnection;

BOOL CanConnectQuickly(BOOL proxy);
BOOL ConnectForUrl(HWND owner, BOOL proxy);
