// Sockets, lookup, connection providers and the certificate hook.
#include "ventrel/httpsocket.h"

#include <chrono>
#include <cstring>
#include <string>

#include "net/sslsock.h"
#include "ventrel/vlog.h"

CHttpSocket::CHttpSocket() : m_nTimeout(5000), m_socket(INVALID_SOCKET) {}

CHttpSocket::~CHttpSocket() {
  if (IsOpen()) Close();
}

BOOL CHttpSocket::Create() {
  if (IsOpen()) Close();
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return FALSE;
  // Bound the blocking calls: connect and a send to a stalled peer honour
  // the send time-out, reads inside a TLS record the receive time-out.
  DWORD ms = m_nTimeout;
  ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
  m_socket.store(s);
  return TRUE;
}

BOOL CHttpSocket::Connect(const sockaddr_in& address) {
  SOCKET s = m_socket.load();
  if (s == INVALID_SOCKET) return FALSE;
  return ::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

BOOL CHttpSocket::Send(const char* data, int length) {
  SOCKET s = m_socket.load();
  if (s == INVALID_SOCKET) return FALSE;
  return ::send(s, data, length, 0) != SOCKET_ERROR;
}

int CHttpSocket::Receive(char* buffer, int size) {
  SOCKET s = m_socket.load();
  if (s == INVALID_SOCKET) return -1;
  WSAPOLLFD p = {s, POLLRDNORM, 0};
  int rc = WSAPoll(&p, 1, int(m_nTimeout > 0x7fffffff ? 0x7fffffff : m_nTimeout));
  if (rc <= 0) {
    if (rc == 0) WSASetLastError(WSAETIMEDOUT);
    return -1;
  }
  return ::recv(s, buffer, size, 0);
}

BOOL CHttpSocket::ReceiveExact(char* buffer, int size) {
  // The whole reply gets the receive time-out: a proxy that trickles it a
  // byte at a time must not hold the connection for a time-out per byte.
  const DWORD timeout = m_nTimeout;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
  int got = 0;
  BOOL ok = TRUE;
  while (got < size) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      WSASetLastError(WSAETIMEDOUT);
      ok = FALSE;
      break;
    }
    m_nTimeout = DWORD(left) < timeout ? DWORD(left) : timeout;
    int n = Receive(buffer + got, size - got);
    if (n <= 0) {
      ok = FALSE;
      break;
    }
    got += n;
  }
  m_nTimeout = timeout;
  return ok;
}

int CHttpSocket::RawReceive(char* buffer, int size) {
  SOCKET s = m_socket.load();
  if (s == INVALID_SOCKET) return -1;
  return ::recv(s, buffer, size, 0);
}

int CHttpSocket::Shutdown(int how) {
  SOCKET s = m_socket.load();
  if (s == INVALID_SOCKET) return -1;
  return ::shutdown(s, how);
}

void CHttpSocket::Close() {
  VLog(u"CHttpSocket::Close()");
  SOCKET s = m_socket.exchange(INVALID_SOCKET);
  if (s != INVALID_SOCKET) ::closesocket(s);
}

BOOL CHttpSocket::SetKeepAlive() {
  SOCKET s = m_socket.load();
  int on = 1;
  return ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

BOOL CHttpSocket::SetSecure(const CString& host, const CString& caFile) {
  SOCKET s = m_socket.load();
  DWORD mode = SO_SEC_SSL;
  if (::setsockopt(s, SOL_SOCKET, SO_SECURE, reinterpret_cast<const char*>(&mode), sizeof mode) != 0) return FALSE;
  m_peer = host;
  SSLVALIDATECERTHOOK hook;
  hook.HookFunc = &ValidateServerCertificate;
  hook.pvArg = const_cast<WCHAR*>(m_peer.GetString());
  DWORD returned = 0;
  if (WSAIoctl(s, SO_SSL_SET_VALIDATE_CERT_HOOK, &hook, sizeof hook, nullptr, 0, &returned, nullptr, nullptr) ==
      SOCKET_ERROR) {
    VLog(u"WSAIoctl fail, error code = %d", WSAGetLastError());
    return FALSE;
  }
  std::string name = CStringA(host).str();
  if (WSAIoctl(s, SO_SSL_SET_PEERNAME, name.data(), DWORD(name.size() + 1), nullptr, 0, &returned, nullptr,
               nullptr) == SOCKET_ERROR) {
    VLog(u"WSAIoctl fail, error code = %d", WSAGetLastError());
    return FALSE;
  }
  if (!caFile.IsEmpty()) {
    std::string ca = CStringA(caFile).str();
    if (WSAIoctl(s, SO_SSL_ADD_CA_FILE, ca.data(), DWORD(ca.size() + 1), nullptr, 0, &returned, nullptr,
                 nullptr) == SOCKET_ERROR) {
      VLog(u"WSAIoctl fail, error code = %d", WSAGetLastError());
      return FALSE;
    }
  }
  return TRUE;
}

BOOL CHttpSocket::DeferHandshake() {
  DWORD flags = SSL_FLAG_DEFER_HANDSHAKE;
  DWORD returned = 0;
  return WSAIoctl(m_socket.load(), SO_SSL_SET_FLAGS, &flags, sizeof flags, nullptr, 0, &returned, nullptr,
                  nullptr) != SOCKET_ERROR;
}

BOOL CHttpSocket::PerformHandshake() {
  DWORD returned = 0;
  if (WSAIoctl(m_socket.load(), SO_SSL_PERFORM_HANDSHAKE, nullptr, 0, nullptr, 0, &returned, nullptr, nullptr) ==
      SOCKET_ERROR) {
    int err = WSAGetLastError();
    VLog(u"WSAIoctl fail, error code = %d", err);
    std::string why = SslLastHandshakeError();
    VLog(u"TLS handshake with '%s' failed: %S", m_peer.GetString(), why.c_str());
    return FALSE;
  }
  return TRUE;
}

ULONG LookupAddress(const CString& name) {
  VLog(u"LookupAddress()");
  std::string host = CStringA(name).str();
  ULONG addr = inet_addr(host.c_str());
  if (addr == INADDR_NONE && !host.empty()) {
    hostent* he = gethostbyname(host.c_str());
    if (he && he->h_addr_list && he->h_addr_list[0]) std::memcpy(&addr, he->h_addr_list[0], 4);
  }
  VLog(u"%08x", unsigned(addr));
  return addr;
}

// Providers.

CConnectionProvider::CConnectionProvider() { VLog(u"CConnectionProvider::CConnectionProvider()"); }

BOOL CConnectionProvider::MakeConnection(CHttpSocket* socket, int kind, const CString& host, int port,
                                         const CString& tlsHost) {
  VLog(u"CConnectionProvider::MakeConnection(%p, %d, '%s', %d)", static_cast<void*>(socket), kind, host.GetString(),
       port);
  if (port <= 0 || port > 65535) {
    VLog(u"Bad port: %d", port);
    return FALSE;
  }
  ULONG addr = LookupAddress(host);
  if (addr == INADDR_NONE) {
    VLog(u"Lookup failed: %d", WSAGetLastError());
    return FALSE;
  }
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = htons(USHORT(port));
  sa.sin_addr.s_addr = addr;
  if (kind == 3) {
    if (!socket->SetSecure(tlsHost, m_strCaFile) || !socket->DeferHandshake()) return FALSE;
  }
  return socket->Connect(sa);
}

BOOL CConnectionProvider::Connect(CHttpSocket* socket, int kind, const CString& host, int port) {
  VLog(u"CConnectionProvider::Connect(%p, %d, '%s', %d)", static_cast<void*>(socket), kind, host.GetString(), port);
  if (!MakeConnection(socket, kind, host, port, host)) {
    VLog(u"MakeConnection failed: %d", WSAGetLastError());
    return FALSE;
  }
  if (kind == 3) return socket->PerformHandshake();
  return TRUE;
}

CSocks4ConnectionProvider::CSocks4ConnectionProvider(const CProxySettings* proxy) : m_pProxy(proxy) {
  VLog(u"CSocks4ConnectionProvider::CSocks4ConnectionProvider(%p)", static_cast<const void*>(proxy));
}

BOOL CSocks4ConnectionProvider::Connect(CHttpSocket* socket, int kind, const CString& host, int port) {
  VLog(u"CSocks4ConnectionProvider::Connect(%p, %d, '%s', %d)", static_cast<void*>(socket), kind, host.GetString(),
       port);
  if (!MakeConnection(socket, kind, m_pProxy->m_strHost, m_pProxy->m_nPort, host)) return FALSE;
  if (port <= 0 || port > 65535) return FALSE;
  ULONG addr = LookupAddress(host);
  if (addr == INADDR_NONE) return FALSE;
  std::string req;
  req += char(0x04);
  req += char(0x01);
  req += char((port >> 8) & 0xff);
  req += char(port & 0xff);
  req.append(reinterpret_cast<const char*>(&addr), 4);  // already in network order
  if (m_pProxy->m_bAuthenticate) req += CStringA(m_pProxy->m_strUser).str();
  req += char(0x00);
  if (!socket->Send(req.data(), int(req.size()))) return FALSE;
  // The reply is always eight bytes; it may arrive in pieces.
  unsigned char reply[8];
  if (!socket->ReceiveExact(reinterpret_cast<char*>(reply), 8)) {
    VLog(u"SOCKS4 proxy gave no complete reply");
    return FALSE;
  }
  if (reply[0] != 0x00 || reply[1] != 0x5A) {
    VLog(u"SOCKS4 proxy refused the connection: %d", int(reply[1]));
    return FALSE;
  }
  if (kind == 3) return socket->PerformHandshake();
  return TRUE;
}

CSocks5ConnectionProvider::CSocks5ConnectionProvider(const CProxySettings* proxy) : m_pProxy(proxy) {
  VLog(u"CSocks5ConnectionProvider::CSocks5ConnectionProvider(%p)\n", static_cast<const void*>(proxy));
}

BOOL CSocks5ConnectionProvider::Connect(CHttpSocket* socket, int kind, const CString& host, int port) {
  VLog(u"CSocks5ConnectionProvider::Connect(%p, %d, '%s', %d)", static_cast<void*>(socket), kind, host.GetString(),
       port);
  std::string user = CStringA(m_pProxy->m_strUser).str();
  std::string password = CStringA(m_pProxy->m_strPassword).str();
  std::string target = CStringA(host).str();
  // Every length travels in one byte: longer texts cannot be sent.
  if (target.empty() || target.size() > 255 ||
      (m_pProxy->m_bAuthenticate && (user.size() > 255 || password.size() > 255))) {
    VLog(u"SOCKS5: host, user or password longer than 255 bytes");
    return FALSE;
  }
  if (port <= 0 || port > 65535) return FALSE;
  if (!MakeConnection(socket, kind, m_pProxy->m_strHost, m_pProxy->m_nPort, host)) return FALSE;
  std::string greeting = m_pProxy->m_bAuthenticate ? std::string("\x05\x02\x00\x02", 4) : std::string("\x05\x01\x00", 3);
  if (!socket->Send(greeting.data(), int(greeting.size()))) return FALSE;
  unsigned char method[2];
  if (!socket->ReceiveExact(reinterpret_cast<char*>(method), 2) || method[0] != 0x05) {
    VLog(u"SOCKS5 proxy gave no valid method reply");
    return FALSE;
  }
  if (method[1] == 0x02 && m_pProxy->m_bAuthenticate) {
    std::string auth;
    auth += char(0x01);
    auth += char(user.size());
    auth += user;
    auth += char(password.size());
    auth += password;
    if (!socket->Send(auth.data(), int(auth.size()))) return FALSE;
    unsigned char status[2];
    if (!socket->ReceiveExact(reinterpret_cast<char*>(status), 2) || status[0] != 0x01 || status[1] != 0x00) {
      VLog(u"SOCKS5 proxy refused the user name and password");
      return FALSE;
    }
  } else if (method[1] != 0x00) {
    VLog(u"SOCKS5 proxy offers no acceptable method: %d", int(method[1]));
    return FALSE;
  }
  std::string req("\x05\x01\x00\x03", 4);
  req += char(target.size());
  req += target;
  req += char((port >> 8) & 0xff);
  req += char(port & 0xff);
  if (!socket->Send(req.data(), int(req.size()))) return FALSE;
  // Reply: version, status, reserved, address type, then the bound address
  // (by its type) and port; read exactly that much.
  unsigned char head[4];
  if (!socket->ReceiveExact(reinterpret_cast<char*>(head), 4)) {
    VLog(u"SOCKS5 proxy gave no complete reply");
    return FALSE;
  }
  if (head[0] != 0x05 || head[1] != 0x00 || head[2] != 0x00) {
    VLog(u"SOCKS5 proxy refused the connection: %d", int(head[1]));
    return FALSE;
  }
  int rest;
  if (head[3] == 0x01) {
    rest = 4 + 2;
  } else if (head[3] == 0x04) {
    rest = 16 + 2;
  } else if (head[3] == 0x03) {
    unsigned char len;
    if (!socket->ReceiveExact(reinterpret_cast<char*>(&len), 1)) {
      VLog(u"SOCKS5 proxy gave no complete reply");
      return FALSE;
    }
    rest = len + 2;
  } else {
    VLog(u"SOCKS5 proxy sent an unknown address type: %d", int(head[3]));
    return FALSE;
  }
  char bound[260];
  if (!socket->ReceiveExact(bound, rest)) {
    VLog(u"SOCKS5 proxy gave no complete reply");
    return FALSE;
  }
  if (kind == 3) return socket->PerformHandshake();
  return TRUE;
}

CHttpProxyConnectionProvider::CHttpProxyConnectionProvider(const CProxySettings* proxy) : m_pProxy(proxy) {
  VLog(u"CHttpProxyConnectionProvider::CHttpProxyConnectionProvider(%p)", static_cast<const void*>(proxy));
}

BOOL CHttpProxyConnectionProvider::Connect(CHttpSocket* socket, int kind, const CString& host, int port) {
  VLog(u"CHttpProxyConnectionProvider::Connect(%p, %d, '%s', %d)", static_cast<void*>(socket), kind,
       host.GetString(), port);
  return MakeConnection(socket, kind, m_pProxy->m_strHost, m_pProxy->m_nPort, host);
}

// Certificates.

char* GetCertificateCommonName(char* subject) {
  if (!subject) return nullptr;
  char* cn = std::strstr(subject, "cn=");
  if (!cn) return nullptr;
  cn += 3;
  char* end = cn + std::strcspn(cn, "\t ',");
  *end = '\0';
  return cn;
}

BOOL IsEarlierFileTime(const FILETIME* a, const FILETIME* b) { return CompareFileTime(a, b) < 0; }

int ValidateServerCertificate(DWORD type, LPVOID arg, DWORD chainLen, LPBLOB certChain, DWORD flags) {
  const WCHAR* host = static_cast<const WCHAR*>(arg);
  if (type != SSL_CERT_X509 || chainLen == 0 || !certChain) {
    VLog(u"Certificate of '%s' refused: no certificate", host ? host : u"");
    return SSL_ERR_NO_CERT;
  }
  if (flags == 0) return SSL_ERR_OKAY;
  // Name the certificate in the log so that a refusal can be understood.
  std::string cn = "?";
  LPBLOB leaf = certChain;
  PX509Certificate cracked = nullptr;
  if (SslCrackCertificate(leaf->pBlobData, leaf->cbSize, 0, &cracked)) {
    if (char* name = GetCertificateCommonName(cracked->pszSubject)) cn = name;
    SslFreeCertificate(cracked);
  }
  CString why;
  if (flags & SSL_CERT_FLAG_ISSUER_UNKNOWN) why += u"issuer not trusted; ";
  if (flags & SSL_CERT_FLAG_NAME_MISMATCH) why += u"not issued for this host; ";
  if (flags & SSL_CERT_FLAG_NOT_TIME_VALID) why += u"expired or not yet valid; ";
  if (flags & SSL_CERT_FLAG_OTHER_ERROR) why += u"invalid; ";
  why.TrimRight(u"; ");
  VLog(u"Certificate of '%s' refused (cn=%S): %s", host ? host : u"", cn.c_str(), why.GetString());
  if (flags & SSL_CERT_FLAG_NOT_TIME_VALID) return SSL_ERR_CERT_EXPIRED;
  return SSL_ERR_CERT_UNKNOWN;
}
