// The connection wrapper (see common/connection.h).
#include "common/connection.h"

#include <cstdarg>
#include <cstring>

#include "common/localize.h"
#include "common/log.h"
#include "common/settings.h"
#include "shell/shellexec.h"

#define EM_SETSEL 0x00B1
#define EM_REPLACESEL 0x00C2

CLoggedConnection theConnection;

CConnection::CConnection() { m_hWakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr); }

CConnection::~CConnection() {
  StopThread();
  if (m_hWakeEvent) CloseHandle(m_hWakeEvent);
  free(m_pszUrl);
}

void CConnection::StopThread() {
  if (!m_hThread) return;
  m_bStopRequested = true;
  SetEvent(m_hWakeEvent);
  // The thread's loop always ends on the wake event; its connection request
  // may take its own time-out first. It uses this object, so it is waited
  // for to the end, never left running.
  WaitForSingleObject(m_hThread, INFINITE);
  CloseHandle(m_hThread);
  m_hThread = nullptr;
  m_bStopRequested = false;
}

HRESULT CConnection::OnStatusChange(DWORD status) {
  if (status == CONNMGR_STATUS_DISCONNECTED) {
    m_bCache = TRUE;
    return OnDisconnected();
  }
  if (status & 0x20) {
    m_bCache = FALSE;
    return OnError();
  }
  if (status == CONNMGR_STATUS_CONNECTED) return OnConnected();
  if (status & 0x40) return OnWaiting();
  return 0;
}

HRESULT CConnection::OnConnecting() { return 0; }

HRESULT CConnection::OnError() {
  WCHAR parameters[64];
  swprintf(parameters, 64, u"-CMERROR 0x%x -report", static_cast<unsigned>(m_dwLastStatus.load()));
  SHELLEXECUTEINFO info{};
  info.cbSize = sizeof info;
  info.lpFile = u":MSREMNET";
  info.lpParameters = parameters;
  info.nShow = SW_SHOWNORMAL;
  ShellExecuteEx(&info);
  return E_FAIL;
}

HRESULT CConnection::OnConnected() {
  QueryProxy(m_hConnection);
  return 0;
}

HRESULT CConnection::OnDisconnected() { return E_FAIL; }
HRESULT CConnection::OnWaiting() { return 0; }
HRESULT CConnection::OnReleased() { return 0; }

HRESULT CConnection::MapUrl(LPCWSTR url, BOOL) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (url) {
    size_t n = wcslen(url);
    auto* copy = static_cast<LPWSTR>(malloc((n + 1) * sizeof(WCHAR)));
    if (!copy) return E_OUTOFMEMORY;
    memcpy(copy, url, (n + 1) * sizeof(WCHAR));
    free(m_pszUrl);
    m_pszUrl = copy;
  }
  return ConnMgrMapURL(m_pszUrl, &m_guidDestNet, nullptr);
}

HRESULT CConnection::Probe(LPCWSTR url, BOOL proxy) {
  HRESULT hr = MapUrl(url, proxy);
  if (FAILED(hr)) return hr;
  m_bProxy = proxy;
  CONNMGR_CONNECTIONINFO info{};
  info.cbSize = sizeof info;
  info.dwParams = CONNMGR_PARAM_GUIDDESTNET | CONNMGR_PARAM_MAXCONNLATENCY;
  info.dwFlags = proxy ? CONNMGR_FLAG_PROXY_HTTP : 0;
  info.dwPriority = CONNMGR_PRIORITY_USERINTERACTIVE;
  info.bExclusive = FALSE;
  info.bDisabled = TRUE;  // only asks whether a connection could be had
  info.guidDestNet = m_guidDestNet;
  info.ulMaxConnLatency = 4000;
  HANDLE connection = nullptr;
  hr = ConnMgrEstablishConnection(&info, &connection);
  if (FAILED(hr)) return hr;
  HRESULT result;
  if (WaitForSingleObject(connection, 400) == WAIT_OBJECT_0) {
    DWORD status = 0;
    if (SUCCEEDED(ConnMgrConnectionStatus(connection, &status)) &&
        (status == CONNMGR_STATUS_CONNECTED || status == CONNMGR_STATUS_CONNECTIONDISABLED)) {
      QueryProxy(connection);
      result = 0;
    } else {
      result = 1;
    }
  } else {
    result = E_FAIL;
  }
  ConnMgrReleaseConnection(connection, 0);
  return result;
}

BOOL CConnection::QueryProxy(HANDLE connection) {
  PROXY_CONFIG config{};
  config.dwType = CONNMGR_FLAG_PROXY_HTTP;
  BOOL found = FALSE;
  if (SUCCEEDED(ConnMgrProviderMessage(connection, &IID_ConnPrv_IProxyExtension, nullptr, 0, 0,
                                       reinterpret_cast<PBYTE>(&config), sizeof config)) &&
      config.dwType == CONNMGR_FLAG_PROXY_HTTP) {
    found = TRUE;
    memset(config.szUsername, 0, sizeof config.szUsername);
    memset(config.szPassword, 0, sizeof config.szPassword);
  }
  std::lock_guard<std::mutex> lock(m_lock);
  m_proxyConfig = config;
  m_bProxyFound = found;
  return found;
}

BOOL CConnection::ProxyFound() { return m_bProxyFound; }

PROXY_CONFIG CConnection::ProxyConfig() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_proxyConfig;
}

HRESULT CConnection::Connect(LPCWSTR url, BOOL proxy) {
  HRESULT hr = MapUrl(url, proxy);
  m_bProxy = proxy;
  if (!m_hWakeEvent) return E_INVALIDARG;
  if (FAILED(hr)) return hr;
  StopThread();
  m_hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
  return m_hThread ? 0 : E_FAIL;
}

DWORD CConnection::ThreadProc(LPVOID param) { return static_cast<CConnection*>(param)->Run(); }

DWORD CConnection::Run() {
  CONNMGR_CONNECTIONINFO info{};
  info.cbSize = sizeof info;
  info.dwParams = CONNMGR_PARAM_GUIDDESTNET;
  info.dwFlags = m_bProxy ? (CONNMGR_FLAG_PROXY_HTTP | CONNMGR_FLAG_PROXY_WAP | CONNMGR_FLAG_PROXY_SOCKS4 |
                             CONNMGR_FLAG_PROXY_SOCKS5)
                          : 0;
  info.dwPriority = CONNMGR_PRIORITY_USERINTERACTIVE;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    info.guidDestNet = m_guidDestNet;
  }
  DWORD status = 0;
  HANDLE connection = nullptr;
  HRESULT hr = ConnMgrEstablishConnectionSync(&info, &connection, 10000, &status);
  m_hConnection = connection;
  if (FAILED(hr) && status != CONNMGR_STATUS_CONNECTED) {
    m_dwLastStatus = status ? status : static_cast<DWORD>(hr);
    OnError();
    m_bCache = FALSE;
  } else {
    m_dwLastStatus = status;
    OnConnecting();
    ResetEvent(m_hWakeEvent);
    while (!m_bStopRequested) {
      HANDLE handles[2] = {connection, m_hWakeEvent};
      DWORD wait = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
      if (wait == WAIT_OBJECT_0) {
        DWORD now = 0;
        HRESULT read = ConnMgrConnectionStatus(connection, &now);
        if (FAILED(read)) {
          m_dwLastStatus = static_cast<DWORD>(read);
          break;
        }
        m_dwLastStatus = now;
        if (OnStatusChange(now) != 0) break;
      } else {
        ResetEvent(m_hWakeEvent);
        break;
      }
    }
  }
  OnReleased();
  if (connection) ConnMgrReleaseConnection(connection, m_bCache);
  m_hConnection = nullptr;
  return m_dwLastStatus;
}

void CConnection::Log(LPCWSTR format, ...) {
  WCHAR buffer[4096];
  va_list args;
  va_start(args, format);
  vswprintf(buffer, 4096, format, args);
  va_end(args);
  if (m_hLogWindow) {
    SendMessageW(m_hLogWindow, EM_SETSEL, static_cast<WPARAM>(-1), -1);
    SendMessageW(m_hLogWindow, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(buffer));
  }
  WriteLog(buffer);
}

static void BroadcastStatus(WPARAM status) { PostMessageW(HWND_BROADCAST, WM_CONNECTION_STATUS, status, 0); }

HRESULT CLoggedConnection::OnConnecting() {
  CString url;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    url = m_pszUrl ? m_pszUrl : u"";
  }
  Log(u"Establishing the connection %s, %s proxy", static_cast<LPCWSTR>(url), m_bProxy ? u"using" : u"without");
  BroadcastStatus(CONNECTION_STATUS_ESTABLISHED);
  return 0;
}

HRESULT CLoggedConnection::OnError() {
  DWORD status = m_dwLastStatus;
  if (static_cast<LONG>(status) < 0)
    Log(u"Encountered Error 0x%08x", status);
  else
    Log(u"Encountered state : %d", status);
  CConnection::OnError();
  return E_FAIL;
}

HRESULT CLoggedConnection::OnConnected() {
  QueryProxy(m_hConnection);
  PROXY_CONFIG config = ProxyConfig();
  if (m_bProxyFound)
    Log(u"Connected to network via proxy: %s", config.szProxyServer);
  else
    Log(u"Connected directly to the network");
  return 0;
}

HRESULT CLoggedConnection::OnDisconnected() {
  Log(u"We are disconnected");
  return E_FAIL;
}

HRESULT CLoggedConnection::OnWaiting() {
  Log(u"We are waiting for the connection");
  return 0;
}

HRESULT CLoggedConnection::OnReleased() {
  Log(u"Released connection");
  BroadcastStatus(CONNECTION_STATUS_RELEASED);
  return 0;
}

BOOL CanConnectQuickly(BOOL proxy) {
  HRESULT hr = theConnection.Probe(CONNECTION_TEST_URL, proxy);
  if (hr == 0) {
    theConnection.Log(u"We can quickly connect to that path.");
    return TRUE;
  }
  if (hr > 0) {
    theConnection.Log(u"No fast connection to that path.");
    BroadcastStatus(CONNECTION_STATUS_NO_FAST_PATH);
  } else {
    theConnection.Log(u"Unable using current network configuration.");
    BroadcastStatus(CONNECTION_STATUS_PROBE_FAILED);
  }
  return FALSE;
}

BOOL ConnectForUrl(HWND owner, BOOL proxy) {
  if (CanConnectQuickly(proxy)) return FALSE;
  if (GetRegistryDword(u"UseFreeConnections", 1, u"") != 0) {
    CString text = Localized(u"No data connection available.  Are you sure you want to connect anyway?");
    CString title = Localized(u"Confirm Connect");
    if (MessageBoxW(owner, text, title, MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) != IDYES) return FALSE;
  }
  theConnection.Connect(CONNECTION_TEST_URL, proxy);
  return TRUE;
}
