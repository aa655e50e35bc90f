// The connection manager over the host's routes, with scripted statuses for
// tests (see net/connmgr.h).
#include "net/connmgr.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "kernel/waitable.h"
#include "kernel/wstring.h"

const GUID IID_DestNetInternet = {0x436EF144, 0xB4FB, 0x4863, {0xA0, 0x41, 0x8F, 0x90, 0x5A, 0x62, 0xC5, 0x72}};
const GUID IID_ConnPrv_IProxyExtension = {0xAF96B0BD, 0xA481, 0x482C, {0xA0, 0x94, 0xA8, 0x44, 0x87, 0x67, 0xA0, 0xC0}};

namespace {

// Each status change signals the handle once; a wait that the signal ends
// makes that change the status the next read reports. Changes that come
// faster than the holder reads them queue up, so a holder sees every status
// in order (a scripted waiting, connected, disconnected sequence is not
// folded into its last step).
class Connection : public qk::Waitable {
 public:
  // Guarded by qk::WaitLock().
  bool Ready(DWORD) override { return !changes.empty(); }
  bool Acquire(DWORD) override {
    if (changes.empty()) return false;
    status = changes.front();
    changes.pop_front();
    return true;
  }
  DWORD status = CONNMGR_STATUS_UNKNOWN;
  std::deque<DWORD> changes;
  bool held = true;
};

struct Script {
  std::mutex lock;
  bool scripted = false;
  DWORD status = CONNMGR_STATUS_CONNECTED;
  bool probeHangs = false;
  bool syncScripted = false;
  HRESULT syncHr = S_OK;
  DWORD syncStatus = CONNMGR_STATUS_CONNECTED;
  std::u16string proxy;
  std::vector<qk::connmgr::Request> requests;
  std::vector<LONG> releases;
  std::vector<std::weak_ptr<Connection>> live;
};

Script& TheScript() {
  static Script script;
  return script;
}

bool HostHasRoute() {
  auto scan = [](const char* path, bool ipv6) {
    std::ifstream in(path);
    std::string line;
    if (!ipv6) std::getline(in, line);  // header
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::vector<std::string> f;
      std::string x;
      while (fields >> x) f.push_back(x);
      if (f.empty()) continue;
      const std::string& iface = ipv6 ? f.back() : f[0];
      if (iface != "lo") return true;
    }
    return false;
  };
  return scan("/proc/net/route", false) || scan("/proc/net/ipv6_route", true);
}

DWORD CurrentStatus() {
  Script& s = TheScript();
  {
    std::lock_guard<std::mutex> g(s.lock);
    if (s.scripted) return s.status;
  }
  return HostHasRoute() ? CONNMGR_STATUS_CONNECTED : CONNMGR_STATUS_NOPATHTODESTINATION;
}

HANDLE NewConnection(DWORD status, bool signal) {
  auto c = std::make_shared<Connection>();
  {
    std::lock_guard<std::mutex> g(qk::WaitLock());
    c->status = status;
    if (signal) c->changes.push_back(status);
  }
  {
    Script& s = TheScript();
    std::lock_guard<std::mutex> g(s.lock);
    s.live.push_back(c);
  }
  qk::NotifyWaiters();
  return qk::RegisterHandle(c);
}

// The connections whose handles are still open.
std::vector<std::shared_ptr<Connection>> LiveConnections() {
  std::vector<std::shared_ptr<Connection>> live;
  Script& s = TheScript();
  std::lock_guard<std::mutex> g(s.lock);
  for (auto& w : s.live)
    if (auto c = w.lock()) live.push_back(c);
  return live;
}

}  // namespace

HRESULT ConnMgrMapURL(LPCWSTR url, GUID* guid, DWORD*) {
  if (!url || !guid) return E_INVALIDARG;
  // Every URL leads to the Internet on this host.
  *guid = IID_DestNetInternet;
  return S_OK;
}

HRESULT ConnMgrEstablishConnection(CONNMGR_CONNECTIONINFO* info, HANDLE* connection) {
  if (!info || !connection) return E_INVALIDARG;
  Script& s = TheScript();
  bool hangs;
  {
    std::lock_guard<std::mutex> g(s.lock);
    s.requests.push_back({*info, false});
    hangs = s.probeHangs && info->bDisabled;
  }
  DWORD status = CurrentStatus();
  *connection = NewConnection(hangs ? CONNMGR_STATUS_WAITINGCONNECTION : status, !hangs);
  return S_OK;
}

HRESULT ConnMgrEstablishConnectionSync(CONNMGR_CONNECTIONINFO* info, HANDLE* connection, DWORD, DWORD* status) {
  if (!info || !connection) return E_INVALIDARG;
  Script& s = TheScript();
  HRESULT hr;
  DWORD st;
  {
    std::lock_guard<std::mutex> g(s.lock);
    s.requests.push_back({*info, true});
    hr = s.syncHr;
    st = s.syncStatus;
    if (!s.syncScripted) hr = 1;  // decided below
  }
  if (hr == 1) {
    st = CurrentStatus();
    hr = st == CONNMGR_STATUS_CONNECTED ? S_OK : E_FAIL;
  }
  *connection = NewConnection(st, false);
  if (status) *status = st;
  return hr;
}

HRESULT ConnMgrConnectionStatus(HANDLE connection, DWORD* status) {
  auto c = qk::LookupHandleAs<Connection>(connection);
  if (!c || !status) return E_INVALIDARG;
  std::lock_guard<std::mutex> g(qk::WaitLock());
  *status = c->status;
  return S_OK;
}

HRESULT ConnMgrReleaseConnection(HANDLE connection, LONG cache) {
  auto c = qk::LookupHandleAs<Connection>(connection);
  if (!c) return E_INVALIDARG;
  {
    std::lock_guard<std::mutex> g(qk::WaitLock());
    c->held = false;
  }
  {
    Script& s = TheScript();
    std::lock_guard<std::mutex> g(s.lock);
    s.releases.push_back(cache);
  }
  qk::ReleaseHandle(connection);
  return S_OK;
}

HRESULT ConnMgrProviderMessage(HANDLE, const GUID* provider, DWORD*, DWORD, DWORD, PBYTE params, ULONG size) {
  if (!provider || !(*provider == IID_ConnPrv_IProxyExtension) || !params || size < sizeof(PROXY_CONFIG))
    return E_INVALIDARG;
  std::u16string proxy;
  {
    Script& s = TheScript();
    std::lock_guard<std::mutex> g(s.lock);
    proxy = s.proxy;
  }
  if (proxy.empty()) return E_FAIL;  // no proxy configured for this network
  auto* config = reinterpret_cast<PROXY_CONFIG*>(params);
  if (config->dwType != CONNMGR_FLAG_PROXY_HTTP) return E_INVALIDARG;
  config->dwEnable = TRUE;
  size_t n = std::min<size_t>(proxy.size(), 255);
  std::memcpy(config->szProxyServer, proxy.data(), n * sizeof(WCHAR));
  config->szProxyServer[n] = 0;
  return S_OK;
}

namespace qk::connmgr {

void UseHostNetwork() {
  Script& s = TheScript();
  std::lock_guard<std::mutex> g(s.lock);
  s.scripted = false;
  s.probeHangs = false;
  s.syncScripted = false;
  s.proxy.clear();
  s.requests.clear();
  s.releases.clear();
}

void ScriptStatus(DWORD status) {
  Script& s = TheScript();
  std::lock_guard<std::mutex> g(s.lock);
  s.scripted = true;
  s.status = status;
}

void ScriptProbeTimeout(bool hangs) {
  Script& s = TheScript();
  std::lock_guard<std::mutex> g(s.lock);
  s.probeHangs = hangs;
}

void ScriptSyncResult(HRESULT hr, DWORD status) {
  Script& s = TheScript();
  std::lock_guard<std::mutex> g(s.lock);
  s.syncScripted = true;
  s.syncHr = hr;
  s.syncStatus = status;
}

void ChangeStatus(DWORD status) {
  std::vector<std::shared_ptr<Connection>> live = LiveConnections();
  {
    std::lock_guard<std::mutex> g(qk::WaitLock());
    for (auto& c : live) {
      if (!c->held) continue;
      c->changes.push_back(status);
    }
  }
  qk::NotifyWaiters();
}

void ScriptProxy(const std::u16string& server) {
  Script& s = TheScript();
  std::lock_guard<std::mutex> g(s.lock);
  s.proxy = server;
}

std::vector<Request> Requests() {
  Script& s = TheScript();
  std::lock_guard<std::mutex> g(s.lock);
  return s.requests;
}

std::vector<LONG> Releases() {
  Script& s = TheScript();
  std::lock_guard<std::mutex> g(s.lock);
  return s.releases;
}

int HeldConnections() {
  std::vector<std::shared_ptr<Connection>> live = LiveConnections();
  std::lock_guard<std::mutex> g(qk::WaitLock());
  return static_cast<int>(std::count_if(live.begin(), live.end(), [](auto& c) { return c->held; }));
}

bool WaitForHeldConnections(int count, DWORD timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (HeldConnections() < count) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace qk::connmgr
