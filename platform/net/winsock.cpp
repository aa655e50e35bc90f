// Windows Sockets calls and the secure socket controls, as shims over the
// socket core.
#include "net/winsock.h"

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "net/sockcore.h"
#include "net/sslsock.h"

namespace {

namespace core = qk::sockcore;

thread_local int t_wsaError = 0;
std::atomic<int> g_startups{0};

bool Started() {
  if (g_startups.load() > 0) return true;
  t_wsaError = WSANOTINITIALISED;
  return false;
}

int Fail(int err) {
  t_wsaError = err;
  return SOCKET_ERROR;
}

// Calls a validation hook with the chain in the platform's BLOB form.
int DispatchHook(void* hook, void* arg, uint32_t type, uint32_t chainLen, core::CertBlob* chain, uint32_t flags) {
  std::vector<BLOB> blobs(chainLen);
  for (uint32_t i = 0; i < chainLen; ++i) {
    blobs[i].cbSize = chain[i].cbSize;
    blobs[i].pBlobData = chain[i].pBlobData;
  }
  auto fn = reinterpret_cast<SSLVALIDATECERTFUNC>(hook);
  return fn(type, arg, chainLen, blobs.data(), flags);
}

}  // namespace

int WSAStartup(WORD versionRequested, LPWSADATA data) {
  if (LOBYTE(versionRequested) < 1) return WSAVERNOTSUPPORTED;
  if (data) {
    std::memset(data, 0, sizeof *data);
    data->wVersion = versionRequested;
    data->wHighVersion = MAKEWORD(2, 2);
    std::strcpy(data->szDescription, "Quillet sockets");
    std::strcpy(data->szSystemStatus, "Running");
    data->iMaxSockets = 1024;
  }
  g_startups.fetch_add(1);
  return 0;
}

int WSACleanup() {
  int v = g_startups.load();
  while (v > 0 && !g_startups.compare_exchange_weak(v, v - 1)) {
  }
  if (v <= 0) return Fail(WSANOTINITIALISED);
  return 0;
}

int WSAGetLastError() { return t_wsaError; }
void WSASetLastError(int error) { t_wsaError = error; }

SOCKET socket(int af, int type, int protocol) {
  if (!Started()) return INVALID_SOCKET;
  if (af != AF_INET) {
    t_wsaError = WSAEAFNOSUPPORT;
    return INVALID_SOCKET;
  }
  if (type != SOCK_STREAM || (protocol != 0 && protocol != IPPROTO_TCP)) {
    t_wsaError = WSAEPROTONOSUPPORT;
    return INVALID_SOCKET;
  }
  int err = 0;
  core::Id id = core::Create(err);
  if (id == core::kInvalid) {
    t_wsaError = err;
    return INVALID_SOCKET;
  }
  return static_cast<SOCKET>(id);
}

int connect(SOCKET s, const sockaddr* name, int nameLen) {
  if (!name || nameLen < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(name);
  if (in->sin_family != AF_INET) return Fail(WSAEAFNOSUPPORT);
  int err = 0;
  if (core::Connect(s, in->sin_addr.s_addr, in->sin_port, err) != 0) return Fail(err);
  return 0;
}

int send(SOCKET s, const char* buf, int len, int flags) {
  (void)flags;
  if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
  int err = 0;
  int n = core::Send(s, buf, static_cast<size_t>(len), err);
  return n < 0 ? Fail(err) : n;
}

int recv(SOCKET s, char* buf, int len, int flags) {
  (void)flags;
  if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
  int err = 0;
  int n = core::Recv(s, buf, static_cast<size_t>(len), err);
  return n < 0 ? Fail(err) : n;
}

int shutdown(SOCKET s, int how) {
  if (how < SD_RECEIVE || how > SD_BOTH) return Fail(WSAEINVAL);
  int err = 0;
  return core::Shutdown(s, how, err) == 0 ? 0 : Fail(err);
}

int closesocket(SOCKET s) {
  int err = 0;
  return core::Close(s, err) == 0 ? 0 : Fail(err);
}

int setsockopt(SOCKET s, int level, int optName, const char* optVal, int optLen) {
  if (level != SOL_SOCKET) return Fail(WSAEINVAL);
  int err = 0;
  switch (optName) {
    case SO_KEEPALIVE: {
      if (!optVal || optLen < static_cast<int>(sizeof(int))) return Fail(WSAEFAULT);
      int on;
      std::memcpy(&on, optVal, sizeof on);
      return core::SetKeepAlive(s, on != 0, err) == 0 ? 0 : Fail(err);
    }
    case SO_RCVTIMEO:
    case SO_SNDTIMEO: {
      if (!optVal || optLen < static_cast<int>(sizeof(DWORD))) return Fail(WSAEFAULT);
      DWORD ms;
      std::memcpy(&ms, optVal, sizeof ms);
      int v = ms > 0x7fffffffu ? 0x7fffffff : static_cast<int>(ms);
      int rc = optName == SO_RCVTIMEO ? core::SetTimeouts(s, v, -1, err) : core::SetTimeouts(s, -1, v, err);
      return rc == 0 ? 0 : Fail(err);
    }
    case SO_SECURE: {
      if (!optVal || optLen < static_cast<int>(sizeof(DWORD))) return Fail(WSAEFAULT);
      DWORD mode;
      std::memcpy(&mode, optVal, sizeof mode);
      if (mode != SO_SEC_SSL) return Fail(WSAEINVAL);
      return core::SetSecure(s, err) == 0 ? 0 : Fail(err);
    }
    default:
      return Fail(WSAEINVAL);
  }
}

int getsockopt(SOCKET s, int level, int optName, char* optVal, int* optLen) {
  (void)s;
  (void)level;
  (void)optName;
  (void)optVal;
  (void)optLen;
  return Fail(WSAEOPNOTSUPP);
}

int WSAPoll(LPWSAPOLLFD fds, ULONG count, INT timeout) {
  if (!fds && count > 0) return Fail(WSAEFAULT);
  std::vector<core::PollEntry> entries(count);
  for (ULONG i = 0; i < count; ++i) {
    entries[i].s = fds[i].fd;
    entries[i].events = static_cast<short>(((fds[i].events & (POLLRDNORM | POLLRDBAND)) ? core::kPollIn : 0) |
                                           ((fds[i].events & POLLWRNORM) ? core::kPollOut : 0));
    entries[i].revents = 0;
  }
  int err = 0;
  int n = core::Poll(entries.data(), entries.size(), timeout, err);
  if (n < 0) return Fail(err);
  for (ULONG i = 0; i < count; ++i) {
    short r = 0;
    if (entries[i].revents & core::kPollIn) r |= POLLRDNORM;
    if (entries[i].revents & core::kPollOut) r |= POLLWRNORM;
    if (entries[i].revents & core::kPollErr) r |= POLLERR_;
    if (entries[i].revents & core::kPollHup) r |= POLLHUP_;
    if (entries[i].revents & core::kPollNval) r |= POLLNVAL_;
    fds[i].revents = r;
  }
  return n;
}

int WSAIoctl(SOCKET s, DWORD code, LPVOID inBuffer, DWORD inLength, LPVOID outBuffer, DWORD outLength,
             LPDWORD bytesReturned, LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
  if (overlapped || completion) return Fail(WSAEOPNOTSUPP);
  if (bytesReturned) *bytesReturned = 0;
  int err = 0;
  switch (code) {
    case SO_SSL_SET_FLAGS: {
      if (!inBuffer || inLength < sizeof(DWORD)) return Fail(WSAEFAULT);
      DWORD flags;
      std::memcpy(&flags, inBuffer, sizeof flags);
      return core::SetSslFlags(s, flags, err) == 0 ? 0 : Fail(err);
    }
    case SO_SSL_GET_FLAGS: {
      if (!outBuffer || outLength < sizeof(DWORD)) return Fail(WSAEFAULT);
      DWORD flags = core::GetSslFlags(s, err);
      if (err) return Fail(err);
      std::memcpy(outBuffer, &flags, sizeof flags);
      if (bytesReturned) *bytesReturned = sizeof flags;
      return 0;
    }
    case SO_SSL_SET_VALIDATE_CERT_HOOK: {
      if (!inBuffer || inLength < sizeof(SSLVALIDATECERTHOOK)) return Fail(WSAEFAULT);
      SSLVALIDATECERTHOOK hook;
      std::memcpy(&hook, inBuffer, sizeof hook);
      core::SetHookDispatcher(&DispatchHook);
      return core::SetValidateHook(s, reinterpret_cast<void*>(hook.HookFunc), hook.pvArg, err) == 0
                 ? 0
                 : Fail(err);
    }
    case SO_SSL_SET_PEERNAME:
    case SO_SSL_ADD_CA_FILE: {
      if (!inBuffer || inLength == 0) return Fail(WSAEFAULT);
      const char* text = static_cast<const char*>(inBuffer);
      std::string value(text, strnlen(text, inLength));
      int rc = code == SO_SSL_SET_PEERNAME ? core::SetPeerName(s, value, err) : core::AddCaFile(s, value, err);
      return rc == 0 ? 0 : Fail(err);
    }
    case SO_SSL_PERFORM_HANDSHAKE:
      return core::PerformHandshake(s, err) == 0 ? 0 : Fail(err);
    case SO_SSL_GET_CAPABILITIES: {
      if (!outBuffer || outLength < sizeof(DWORD)) return Fail(WSAEFAULT);
      DWORD caps = 0;
      std::memcpy(outBuffer, &caps, sizeof caps);
      if (bytesReturned) *bytesReturned = sizeof caps;
      return 0;
    }
    default:
      return Fail(WSAEINVAL);
  }
}

ULONG inet_addr(const char* cp) {
  uint32_t a;
  return core::ParseIPv4(cp, a) ? a : INADDR_NONE;
}

hostent* gethostbyname(const char* name) {
  thread_local hostent t_host;
  thread_local std::string t_name;
  thread_local std::vector<uint32_t> t_addrs;
  thread_local std::vector<char*> t_list;
  thread_local char* t_aliases[1] = {nullptr};
  if (!Started()) return nullptr;
  int err = 0;
  if (!core::ResolveIPv4(name, t_addrs, err)) {
    t_wsaError = err;
    return nullptr;
  }
  t_name = name;
  t_list.clear();
  for (uint32_t& a : t_addrs) t_list.push_back(reinterpret_cast<char*>(&a));
  t_list.push_back(nullptr);
  t_host.h_name = t_name.data();
  t_host.h_aliases = t_aliases;
  t_host.h_addrtype = AF_INET;
  t_host.h_length = 4;
  t_host.h_addr_list = t_list.data();
  return &t_host;
}

USHORT htons(USHORT v) { return static_cast<USHORT>((v >> 8) | (v << 8)); }
USHORT ntohs(USHORT v) { return htons(v); }
ULONG htonl(ULONG v) { return __builtin_bswap32(v); }
ULONG ntohl(ULONG v) { return __builtin_bswap32(v); }

// Secure channel certificate cracking.

BOOL SslCrackCertificate(BYTE* certificate, DWORD length, DWORD flags, PX509Certificate* cracked) {
  (void)flags;
  if (!cracked) return FALSE;
  *cracked = nullptr;
  core::CertInfo info;
  if (!core::CrackCertificate(certificate, length, info)) return FALSE;
  auto toFileTime = [](int64_t unixSeconds) {
    uint64_t t = static_cast<uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t & 0xffffffffu);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return ft;
  };
  auto* c = new X509Certificate();
  c->Version = info.version;
  for (int i = 0; i < 4; ++i) c->SerialNumber[i] = info.serial[i];
  c->SignatureAlgorithm = 0;
  c->ValidFrom = toFileTime(info.validFromUnix);
  c->ValidUntil = toFileTime(info.validUntilUnix);
  c->pszIssuer = new char[info.issuer.size() + 1];
  std::memcpy(c->pszIssuer, info.issuer.c_str(), info.issuer.size() + 1);
  c->pszSubject = new char[info.subject.size() + 1];
  std::memcpy(c->pszSubject, info.subject.c_str(), info.subject.size() + 1);
  c->pPublicKey = nullptr;
  *cracked = c;
  return TRUE;
}

void SslFreeCertificate(PX509Certificate cracked) {
  if (!cracked) return;
  delete[] cracked->pszIssuer;
  delete[] cracked->pszSubject;
  delete cracked;
}

std::string SslLastHandshakeError() { return core::LastSslError(); }
