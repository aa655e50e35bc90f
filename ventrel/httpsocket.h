// The byte stream between the client and an HTTP server: a thin socket
// wrapper, host-name lookup, the proxy record and the connection providers
// (direct, SOCKS4, SOCKS5, HTTP proxy).
#pragma once

#include <atomic>

#include "framework/afx.h"
#include "net/sslsock.h"
#include "net/winsock.h"

class CHttpSocket {
 public:
  CHttpSocket();
  virtual ~CHttpSocket();
  CHttpSocket(const CHttpSocket&) = delete;
  CHttpSocket& operator=(const CHttpSocket&) = delete;

  BOOL Create();
  BOOL Connect(const sockaddr_in& address);
  // Sends the whole buffer.
  BOOL Send(const char* data, int length);
  // Waits up to the receive time-out, then one receive: the byte count,
  // 0 when the peer closed, -1 on error or time-out.
  int Receive(char* buffer, int size);
  // Receives exactly size bytes within one receive time-out; FALSE on
  // close, error or time-out.
  BOOL ReceiveExact(char* buffer, int size);
  int RawReceive(char* buffer, int size);
  // May come from another thread: wakes a blocked receive of the owner.
  int Shutdown(int how);
  void Close();
  BOOL SetKeepAlive();
  BOOL IsOpen() const { return m_socket.load() != INVALID_SOCKET; }

  // Secure connections. host is the server the certificate must be issued
  // for (also sent as the server name); caFile an extra trusted CA file
  // (host path, empty for none).
  BOOL SetSecure(const CString& host, const CString& caFile);
  BOOL DeferHandshake();
  BOOL PerformHandshake();

  DWORD m_nTimeout;  // receive time-out in milliseconds

 private:
  std::atomic<SOCKET> m_socket;
  CString m_peer;  // context of the certificate hook; lives as the socket
};

// IPv4 address of a dotted address or host name (network order), or
// INADDR_NONE.
ULONG LookupAddress(const CString& name);

enum { PROXY_SOCKS4 = 0, PROXY_SOCKS5 = 1, PROXY_HTTP = 2 };

struct CProxySettings {
  int m_nKind = PROXY_HTTP;
  CString m_strHost;
  int m_nPort = 0;
  int m_bAuthenticate = 0;
  CString m_strUser;
  CString m_strPassword;
};

// Everything a provider needs to open the path to a server.
class CConnectionProvider {
 public:
  CConnectionProvider();
  virtual ~CConnectionProvider() = default;
  virtual BOOL Connect(CHttpSocket* socket, int kind, const CString& host, int port);
  // Extra CA file for secure connections (host path; empty for none).
  CString m_strCaFile;

 protected:
  // Looks up host, switches the socket to TLS for kind 3 (the certificate
  // checked against tlsHost) and connects.
  BOOL MakeConnection(CHttpSocket* socket, int kind, const CString& host, int port, const CString& tlsHost);
};

class CSocks4ConnectionProvider : public CConnectionProvider {
 public:
  explicit CSocks4ConnectionProvider(const CProxySettings* proxy);
  BOOL Connect(CHttpSocket* socket, int kind, const CString& host, int port) override;

 private:
  const CProxySettings* m_pProxy;
};

class CSocks5ConnectionProvider : public CConnectionProvider {
 public:
  explicit CSocks5ConnectionProvider(const CProxySettings* proxy);
  BOOL Connect(CHttpSocket* socket, int kind, const CString& host, int port) override;

 private:
  const CProxySettings* m_pProxy;
};

class CHttpProxyConnectionProvider : public CConnectionProvider {
 public:
  explicit CHttpProxyConnectionProvider(const CProxySettings* proxy);
  BOOL Connect(CHttpSocket* socket, int kind, const CString& host, int port) override;

 private:
  const CProxySettings* m_pProxy;
};

// The certificate hook of secure sockets: accepts a certificate only when the
// platform found it trusted, in date and issued for the host; logs a refusal.
int ValidateServerCertificate(DWORD type, LPVOID arg, DWORD chainLen, LPBLOB certChain, DWORD flags);
// The common name of an 8-bit subject ("..., cn=name, ..."), cut in place at
// the first tab, blank, apostrophe or comma; null when there is none.
char* GetCertificateCommonName(char* subject);
BOOL IsEarlierFileTime(const FILETIME* a, const FILETIME* b);
