// The connection manager. On the host a data connection is there when the
// host has a network route on an interface other than loopback; requests
// then report CONNMGR_STATUS_CONNECTED, and otherwise
// CONNMGR_STATUS_NOPATHTODESTINATION. Tests script every status instead
// (qk::connmgr below): what a probe or a held connection reads, a probe
// that never answers, the outcome of a synchronous connection, later status
// changes of held connections, and the HTTP proxy record.
//
// A connection handle is a waitable object that is signalled (auto-reset)
// whenever its status changes; CloseHandle is not used on it, release it
// with ConnMgrReleaseConnection.
#pragma once

#include <string>
#include <vector>

#include "kernel/types.h"

#ifndef GUID_DEFINED
#define GUID_DEFINED
struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
inline bool operator==(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         a.Data4[0] == b.Data4[0] && a.Data4[1] == b.Data4[1] && a.Data4[2] == b.Data4[2] &&
         a.Data4[3] == b.Data4[3] && a.Data4[4] == b.Data4[4] && a.Data4[5] == b.Data4[5] &&
         a.Data4[6] == b.Data4[6] && a.Data4[7] == b.Data4[7];
}
#endif

// The Internet destination network and the HTTP proxy provider.
extern const GUID IID_DestNetInternet;
extern const GUID IID_ConnPrv_IProxyExtension;

struct CONNMGR_CONNECTIONINFO {
  DWORD cbSize;
  DWORD dwParams;
  DWORD dwFlags;
  DWORD dwPriority;
  BOOL bExclusive;
  BOOL bDisabled;
  GUID guidDestNet;
  HWND hWnd;
  UINT uMsg;
  LPARAM lParam;
  ULONG ulMaxCost;
  ULONG ulMinRcvBw;
  ULONG ulMaxConnLatency;
};

#define CONNMGR_PARAM_GUIDDESTNET 0x1
#define CONNMGR_PARAM_MAXCOST 0x2
#define CONNMGR_PARAM_MINRCVBW 0x4
#define CONNMGR_PARAM_MAXCONNLATENCY 0x8

#define CONNMGR_FLAG_PROXY_HTTP 0x1
#define CONNMGR_FLAG_PROXY_WAP 0x2
#define CONNMGR_FLAG_PROXY_SOCKS4 0x4
#define CONNMGR_FLAG_PROXY_SOCKS5 0x8

#define CONNMGR_PRIORITY_USERINTERACTIVE 0x08000

#define CONNMGR_STATUS_UNKNOWN 0x00
#define CONNMGR_STATUS_CONNECTED 0x10
#define CONNMGR_STATUS_SUSPENDED 0x11
#define CONNMGR_STATUS_DISCONNECTED 0x20
#define CONNMGR_STATUS_CONNECTIONFAILED 0x21
#define CONNMGR_STATUS_CONNECTIONCANCELED 0x22
#define CONNMGR_STATUS_CONNECTIONDISABLED 0x23
#define CONNMGR_STATUS_NOPATHTODESTINATION 0x24
#define CONNMGR_STATUS_WAITINGFORPATH 0x25
#define CONNMGR_STATUS_WAITINGFORPHONE 0x26
#define CONNMGR_STATUS_PHONEOFF 0x27
#define CONNMGR_STATUS_EXCLUSIVECONFLICT 0x28
#define CONNMGR_STATUS_NORESOURCES 0x29
#define CONNMGR_STATUS_CONNECTIONLINKFAILED 0x2A
#define CONNMGR_STATUS_AUTHENTICATIONFAILED 0x2B
#define CONNMGR_STATUS_WAITINGCONNECTION 0x40
#define CONNMGR_STATUS_WAITINGFORRESOURCE 0x41
#define CONNMGR_STATUS_WAITINGFORNETWORK 0x42
#define CONNMGR_STATUS_WAITINGDISCONNECTION 0x80
#define CONNMGR_STATUS_WAITINGCONNECTIONABORT 0x81

struct PROXY_CONFIG {
  DWORD dwType;
  BOOL dwEnable;
  WCHAR szProxyServer[256];
  WCHAR szUsername[32];
  WCHAR szPassword[32];
  WCHAR szProxyOverride[64];
  WCHAR szExtraInfo[256];
};

HRESULT ConnMgrMapURL(LPCWSTR url, GUID* guid, DWORD* index);
HRESULT ConnMgrEstablishConnection(CONNMGR_CONNECTIONINFO* info, HANDLE* connection);
HRESULT ConnMgrEstablishConnectionSync(CONNMGR_CONNECTIONINFO* info, HANDLE* connection, DWORD timeoutMs,
                                       DWORD* status);
HRESULT ConnMgrConnectionStatus(HANDLE connection, DWORD* status);
HRESULT ConnMgrReleaseConnection(HANDLE connection, LONG cache);
HRESULT ConnMgrProviderMessage(HANDLE connection, const GUID* provider, DWORD* index, DWORD msg1, DWORD msg2,
                               PBYTE params, ULONG paramsSize);

namespace qk::connmgr {

// Back to the host's own answer (and no scripted proxy); forgets the records.
void UseHostNetwork();
// Every connection requested from now on reports this status.
void ScriptStatus(DWORD status);
// Probes (requests marked disabled) never report their status.
void ScriptProbeTimeout(bool hangs);
// ConnMgrEstablishConnectionSync answers hr with status (instead of the
// scripted status's natural outcome).
void ScriptSyncResult(HRESULT hr, DWORD status);
// Every held connection changes to this status; their handles are signalled.
// Changes queue up: each wait on the handle takes the next one, so the holder
// reads every scripted status in order.
void ChangeStatus(DWORD status);
// The HTTP proxy that the proxy provider reports ("host:port"); empty: none.
void ScriptProxy(const std::u16string& server);

struct Request {
  CONNMGR_CONNECTIONINFO info;
  bool sync;
};
std::vector<Request> Requests();
std::vector<LONG> Releases();  // the cache flag of each release
int HeldConnections();
// Waits (host time) until at least count connections are held.
bool WaitForHeldConnections(int count, DWORD timeoutMs);

}  // namespace qk::connmgr
