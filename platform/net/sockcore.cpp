// Socket table over POSIX descriptors and OpenSSL client sessions.
#include "net/sockcore.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace qk::sockcore {
namespace {

// WSA error numbers used here (the same values as winsock.h).
constexpr int kWsaEintr = 10004;
constexpr int kWsaEbadf = 10009;
constexpr int kWsaEacces = 10013;
constexpr int kWsaEfault = 10014;
constexpr int kWsaEinval = 10022;
constexpr int kWsaEmfile = 10024;
constexpr int kWsaEinprogress = 10036;
constexpr int kWsaEnotsock = 10038;
constexpr int kWsaEafnosupport = 10047;
constexpr int kWsaEaddrinuse = 10048;
constexpr int kWsaEaddrnotavail = 10049;
constexpr int kWsaEnetunreach = 10051;
constexpr int kWsaEconnaborted = 10053;
constexpr int kWsaEconnreset = 10054;
constexpr int kWsaEnobufs = 10055;
constexpr int kWsaEisconn = 10056;
constexpr int kWsaEnotconn = 10057;
constexpr int kWsaEshutdown = 10058;
constexpr int kWsaEtimedout = 10060;
constexpr int kWsaEconnrefused = 10061;
constexpr int kWsaEhostunreach = 10065;
constexpr int kWsaHostNotFound = 11001;
constexpr int kWsaTryAgain = 11002;
constexpr int kWsaNoRecovery = 11003;

int MapErrno(int e) {
  switch (e) {
    case EINTR: return kWsaEintr;
    case EBADF: return kWsaEbadf;
    case EACCES: case EPERM: return kWsaEacces;
    case EFAULT: return kWsaEfault;
    case EINVAL: return kWsaEinval;
    case EMFILE: case ENFILE: return kWsaEmfile;
    case EAGAIN: return kWsaEtimedout;  // only seen when a socket time-out expired
    case EINPROGRESS: return kWsaEinprogress;
    case ENOTSOCK: return kWsaEnotsock;
    case EAFNOSUPPORT: return kWsaEafnosupport;
    case EADDRINUSE: return kWsaEaddrinuse;
    case EADDRNOTAVAIL: return kWsaEaddrnotavail;
    case ENETUNREACH: case ENETDOWN: return kWsaEnetunreach;
    case ECONNABORTED: return kWsaEconnaborted;
    case ECONNRESET: return kWsaEconnreset;
    case ENOBUFS: case ENOMEM: return kWsaEnobufs;
    case EISCONN: return kWsaEisconn;
    case ENOTCONN: return kWsaEnotconn;
    case EPIPE: case ESHUTDOWN: return kWsaEshutdown;
    case ETIMEDOUT: return kWsaEtimedout;
    case ECONNREFUSED: return kWsaEconnrefused;
    case EHOSTUNREACH: case EHOSTDOWN: return kWsaEhostunreach;
    default: return kWsaEconnreset;
  }
}

struct Sock {
  std::mutex mu;  // guards fd between Close and a Shutdown from another thread
  int fd = -1;
  bool secure = false;
  uint32_t sslFlags = 0;
  void* hook = nullptr;
  void* hookArg = nullptr;
  std::string peer;
  std::vector<std::string> caFiles;
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  bool tlsActive = false;
  uint32_t verifyFlags = 0;  // collected during the handshake
};

std::mutex g_tableMu;
std::unordered_map<Id, std::shared_ptr<Sock>> g_table;
Id g_nextId = 0x100;
thread_local std::string t_lastSslError;
std::atomic<HookDispatcher> g_dispatcher{nullptr};

std::shared_ptr<Sock> Find(Id s, int& err) {
  std::lock_guard<std::mutex> lock(g_tableMu);
  auto it = g_table.find(s);
  if (it == g_table.end()) {
    err = kWsaEnotsock;
    return nullptr;
  }
  return it->second;
}

// The TLS layer reaches its socket through this BIO: the socket BIO of the
// library, except that every write is a send() with MSG_NOSIGNAL. OpenSSL
// also writes while it reads (an alert when the stream ends without
// close_notify, as after a cancel shuts the socket down), and a write to a
// socket whose sending side is gone would otherwise raise SIGPIPE and end
// the program.
int NoSignalWrite(BIO* bio, const char* data, int length) {
  int fd = -1;
  BIO_get_fd(bio, &fd);
  errno = 0;
  ssize_t n;
  do {
    n = ::send(fd, data, static_cast<size_t>(length), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  BIO_clear_retry_flags(bio);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_write(bio);
  return static_cast<int>(n);
}

// The end of the running handshake on this thread (none outside one): a
// server that trickles its handshake a byte at a time keeps every single
// read within the socket's receive time-out, so the whole handshake gets
// that time-out as its deadline.
thread_local bool t_handshakeDeadlineSet = false;
thread_local std::chrono::steady_clock::time_point t_handshakeDeadline;
thread_local bool t_handshakeTimedOut = false;

int (*g_socketRead)(BIO*, char*, int) = nullptr;

int DeadlineRead(BIO* bio, char* data, int length) {
  if (t_handshakeDeadlineSet) {
    int fd = -1;
    BIO_get_fd(bio, &fd);
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t_handshakeDeadline -
                                                                        std::chrono::steady_clock::now())
                      .count();
      int ready = 0;
      if (left > 0) {
        pollfd p{fd, POLLIN, 0};
        ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
      }
      if (ready == 0) {
        t_handshakeTimedOut = true;
        BIO_clear_retry_flags(bio);
        errno = ETIMEDOUT;
        return -1;
      }
      break;
    }
  }
  return g_socketRead(bio, data, length);
}

BIO_METHOD* NoSignalSocketMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                                 "socket without SIGPIPE");
    const BIO_METHOD* base = BIO_s_socket();
    BIO_meth_set_write(m, NoSignalWrite);
    g_socketRead = BIO_meth_get_read(base);
    BIO_meth_set_read(m, DeadlineRead);
    BIO_meth_set_puts(m, BIO_meth_get_puts(base));
    BIO_meth_set_ctrl(m, BIO_meth_get_ctrl(base));
    BIO_meth_set_create(m, BIO_meth_get_create(base));
    BIO_meth_set_destroy(m, BIO_meth_get_destroy(base));
    return m;
  }();
  return method;
}

void FreeTls(Sock& s) {
  if (s.ssl) SSL_free(s.ssl);
  if (s.ctx) SSL_CTX_free(s.ctx);
  s.ssl = nullptr;
  s.ctx = nullptr;
  s.tlsActive = false;
}

int g_exIndex = -1;
std::once_flag g_sslOnce;

void InitSsl() {
  std::call_once(g_sslOnce, [] {
    OPENSSL_init_ssl(0, nullptr);
    g_exIndex = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  });
}

// Collects every verification problem instead of stopping at the first, so
// the hook sees the whole picture; the decision is the hook's.
int VerifyCollect(int preverifyOk, X509_STORE_CTX* store) {
  if (preverifyOk) return 1;
  SSL* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  Sock* sock = ssl ? static_cast<Sock*>(SSL_get_ex_data(ssl, g_exIndex)) : nullptr;
  if (!sock) return 0;
  switch (X509_STORE_CTX_get_error(store)) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
    case X509_V_ERR_EMAIL_MISMATCH:
      sock->verifyFlags |= kCertNameMismatch;
      break;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CRL_NOT_YET_VALID:
    case X509_V_ERR_CRL_HAS_EXPIRED:
      sock->verifyFlags |= kCertNotTimeValid;
      break;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
      sock->verifyFlags |= kCertIssuerUnknown;
      break;
    default:
      sock->verifyFlags |= kCertOtherError;
      break;
  }
  return 1;
}

std::string SslErrorText() {
  unsigned long e = ERR_get_error();
  if (e == 0) return "connection closed during the TLS handshake";
  char buf[256];
  ERR_error_string_n(e, buf, sizeof buf);
  ERR_clear_error();
  return buf;
}

int64_t AsnTimeToUnix(const ASN1_TIME* t) {
  struct tm tmv;
  std::memset(&tmv, 0, sizeof tmv);
  if (!t || ASN1_TIME_to_tm(t, &tmv) != 1) return 0;
  return static_cast<int64_t>(timegm(&tmv));
}

std::string NameText(const X509_NAME* name) {
  std::string out;
  int n = X509_NAME_entry_count(name);
  for (int i = 0; i < n; ++i) {
    const X509_NAME_ENTRY* e = X509_NAME_get_entry(name, i);
    const char* sn = OBJ_nid2sn(OBJ_obj2nid(X509_NAME_ENTRY_get_object(e)));
    unsigned char* utf8 = nullptr;
    int len = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(e));
    if (!out.empty()) out += ", ";
    std::string key = sn ? sn : "unknown";
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    out += key + "=";
    if (len > 0) out.append(reinterpret_cast<char*>(utf8), static_cast<size_t>(len));
    OPENSSL_free(utf8);
  }
  return out;
}

}  // namespace

Id Create(int& err) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    err = MapErrno(errno);
    return kInvalid;
  }
  auto sock = std::make_shared<Sock>();
  sock->fd = fd;
  std::lock_guard<std::mutex> lock(g_tableMu);
  Id id = g_nextId++;
  g_table[id] = sock;
  return id;
}

int Connect(Id s, uint32_t addrNetOrder, uint16_t portNetOrder, int& err) {
  auto sock = Find(s, err);
  if (!sock) return -1;
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = portNetOrder;
  sa.sin_addr.s_addr = addrNetOrder;
  int rc = ::connect(sock->fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  if (rc != 0 && errno == EINTR) {
    // The connect goes on in the background: wait for its outcome.
    pollfd p{sock->fd, POLLOUT, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
    int soErr = 0;
    socklen_t len = sizeof soErr;
    getsockopt(sock->fd, SOL_SOCKET, SO_ERROR, &soErr, &len);
    if (soErr == 0) rc = 0;
    else errno = soErr;
  }
  if (rc != 0) {
    err = MapErrno(errno);
    return -1;
  }
  int one = 1;
  setsockopt(sock->fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (sock->secure && !(sock->sslFlags & kSslFlagDeferHandshake)) return PerformHandshake(s, err);
  return 0;
}

int Send(Id s, const void* data, size_t len, int& err) {
  auto sock = Find(s, err);
  if (!sock) return -1;
  const char* p = static_cast<const char*>(data);
  size_t left = len;
  if (sock->tlsActive) {
    while (left > 0) {
      size_t written = 0;
      int rc = SSL_write_ex(sock->ssl, p, left, &written);
      if (rc <= 0) {
        int sslErr = SSL_get_error(sock->ssl, rc);
        if (sslErr == SSL_ERROR_SYSCALL && errno == EINTR) continue;
        err = sslErr == SSL_ERROR_SYSCALL ? MapErrno(errno) : kWsaEconnreset;
        ERR_clear_error();
        return -1;
      }
      p += written;
      left -= written;
    }
    return static_cast<int>(len);
  }
  while (left > 0) {
    ssize_t n = ::send(sock->fd, p, left, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = MapErrno(errno);
      return -1;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return static_cast<int>(len);
}

int Recv(Id s, void* data, size_t len, int& err) {
  auto sock = Find(s, err);
  if (!sock) return -1;
  if (len == 0) return 0;
  if (sock->tlsActive) {
    for (;;) {
      size_t got = 0;
      int rc = SSL_read_ex(sock->ssl, data, len, &got);
      if (rc > 0) return static_cast<int>(got);
      int sslErr = SSL_get_error(sock->ssl, rc);
      if (sslErr == SSL_ERROR_ZERO_RETURN) return 0;
      if (sslErr == SSL_ERROR_SYSCALL) {
        if (errno == EINTR) continue;
        // End of stream without close_notify: the peer closed the socket.
        if (errno == 0) {
          ERR_clear_error();
          return 0;
        }
        err = MapErrno(errno);
        ERR_clear_error();
        return -1;
      }
      if (sslErr == SSL_ERROR_WANT_READ || sslErr == SSL_ERROR_WANT_WRITE) {
        err = kWsaEtimedout;
        return -1;
      }
      // OpenSSL 3 reports an unexpected end of stream as an SSL error.
      unsigned long e = ERR_peek_error();
      ERR_clear_error();
      if (ERR_GET_REASON(e) == SSL_R_UNEXPECTED_EOF_WHILE_READING) return 0;
      err = kWsaEconnreset;
      return -1;
    }
  }
  for (;;) {
    ssize_t n = ::recv(sock->fd, data, len, 0);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    err = MapErrno(errno);
    return -1;
  }
}

int Shutdown(Id s, int how, int& err) {
  auto sock = Find(s, err);
  if (!sock) return -1;
  std::lock_guard<std::mutex> lock(sock->mu);
  if (sock->fd < 0 || ::shutdown(sock->fd, how) != 0) {
    err = sock->fd < 0 ? kWsaEnotsock : MapErrno(errno);
    return -1;
  }
  return 0;
}

int Close(Id s, int& err) {
  std::shared_ptr<Sock> sock;
  {
    std::lock_guard<std::mutex> lock(g_tableMu);
    auto it = g_table.find(s);
    if (it == g_table.end()) {
      err = kWsaEnotsock;
      return -1;
    }
    sock = it->second;
    g_table.erase(it);
  }
  std::lock_guard<std::mutex> lock(sock->mu);
  FreeTls(*sock);
  if (sock->fd >= 0) ::close(sock->fd);
  sock->fd = -1;
  return 0;
}

int SetKeepAlive(Id s, bool on, int& err) {
  auto sock = Find(s, err);
  if (!sock) return -1;
  int v = on ? 1 : 0;
  if (setsockopt(sock->fd, SOL_SOCKET, SO_KEEPALIVE, &v, sizeof v) != 0) {
    err = MapErrno(errno);
    return -1;
  }
  return 0;
}

int Poll(PollEntry* entries, size_t n, int timeoutMs, int& err) {
  std::vector<pollfd> fds(n);
  std::vector<std::shared_ptr<Sock>> socks(n);
  int ready = 0;
  for (size_t i = 0; i < n; ++i) {
    entries[i].revents = 0;
    int e = 0;
    socks[i] = Find(entries[i].s, e);
    fds[i].fd = socks[i] ? socks[i]->fd : -1;
    fds[i].events = static_cast<short>(((entries[i].events & kPollIn) ? POLLIN : 0) |
                                       ((entries[i].events & kPollOut) ? POLLOUT : 0));
    fds[i].revents = 0;
    if (!socks[i]) {
      entries[i].revents = kPollNval;
      ++ready;
    } else if ((entries[i].events & kPollIn) && socks[i]->tlsActive && SSL_pending(socks[i]->ssl) > 0) {
      // Decrypted bytes wait in the TLS layer: the descriptor may be quiet.
      entries[i].revents = kPollIn;
      ++ready;
    }
  }
  if (ready > 0) timeoutMs = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  int rc;
  for (;;) {
    int wait = timeoutMs;
    if (timeoutMs > 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      wait = left < 0 ? 0 : static_cast<int>(left);
    }
    rc = ::poll(fds.data(), fds.size(), wait);
    if (rc >= 0 || errno != EINTR) break;
  }
  if (rc < 0) {
    err = MapErrno(errno);
    return -1;
  }
  for (size_t i = 0; i < n; ++i) {
    if (entries[i].revents) continue;
    short r = 0;
    if (fds[i].revents & (POLLIN | POLLRDHUP)) r |= kPollIn;
    if (fds[i].revents & POLLOUT) r |= kPollOut;
    if (fds[i].revents & POLLERR) r |= kPollErr;
    if (fds[i].revents & POLLHUP) r |= kPollHup;
    if (fds[i].revents & POLLNVAL) r |= kPollNval;
    entries[i].revents = r;
    if (r) ++ready;
  }
  return ready;
}

int SetTimeouts(Id s, int recvMs, int sendMs, int& err) {
  auto sock = Find(s, err);
  if (!sock) return -1;
  auto set = [&](int opt, int ms) {
    if (ms < 0) return true;
    timeval tv;
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return setsockopt(sock->fd, SOL_SOCKET, opt, &tv, sizeof tv) == 0;
  };
  if (!set(SO_RCVTIMEO, recvMs) || !set(SO_SNDTIMEO, sendMs)) {
    err = MapErrno(errno);
    return -1;
  }
  return 0;
}

bool ParseIPv4(const char* text, uint32_t& addrNetOrder) {
  in_addr a;
  if (!text || inet_pton(AF_INET, text, &a) != 1) return false;
  addrNetOrder = a.s_addr;
  return true;
}

bool ResolveIPv4(const char* name, std::vector<uint32_t>& addrs, int& err) {
  addrs.clear();
  if (!name || !*name) {
    err = kWsaHostNotFound;
    return false;
  }
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  int rc = getaddrinfo(name, nullptr, &hints, &res);
  if (rc != 0) {
    err = rc == EAI_AGAIN ? kWsaTryAgain : (rc == EAI_NONAME || rc == EAI_NODATA) ? kWsaHostNotFound : kWsaNoRecovery;
    return false;
  }
  for (addrinfo* p = res; p; p = p->ai_next) {
    if (p->ai_family == AF_INET) addrs.push_back(reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr.s_addr);
  }
  freeaddrinfo(res);
  if (addrs.empty()) {
    err = kWsaHostNotFound;
    return false;
  }
  return true;
}

int SetSecure(Id s, int& err) {
  auto sock = Find(s, err);
  if (!sock) return -1;
  sock->secure = true;
  return 0;
}

int SetSslFlags(Id s, uint32_t flags, int& err) {
  auto sock = Find(s, err);
  if (!sock) return -1;
  if (!sock->secure) {
    err = kWsaEinval;
    return -1;
  }
  sock->sslFlags = flags;
  return 0;
}

uint32_t GetSslFlags(Id s, int& err) {
  auto sock = Find(s, err);
  return sock ? sock->sslFlags : 0;
}

int SetValidateHook(Id s, void* hook, void* arg, int& err) {
  auto sock = Find(s, err);
  if (!sock) return -1;
  if (!sock->secure) {
    err = kWsaEinval;
    return -1;
  }
  sock->hook = hook;
  sock->hookArg = arg;
  return 0;
}

int SetPeerName(Id s, const std::string& name, int& err) {
  auto sock = Find(s, err);
  if (!sock) return -1;
  sock->peer = name;
  return 0;
}

int AddCaFile(Id s, const std::string& hostPath, int& err) {
  auto sock = Find(s, err);
  if (!sock) return -1;
  sock->caFiles.push_back(hostPath);
  return 0;
}

int PerformHandshake(Id s, int& err) {
  InitSsl();
  t_lastSslError.clear();
  auto sock = Find(s, err);
  if (!sock) return -1;
  if (!sock->secure || sock->tlsActive) {
    err = kWsaEinval;
    return -1;
  }
  FreeTls(*sock);
  sock->verifyFlags = 0;
  sock->ctx = SSL_CTX_new(TLS_client_method());
  if (!sock->ctx) {
    t_lastSslError = SslErrorText();
    err = kWsaEnobufs;
    return -1;
  }
  SSL_CTX_set_min_proto_version(sock->ctx, TLS1_2_VERSION);
  SSL_CTX_set_default_verify_paths(sock->ctx);
  for (const std::string& ca : sock->caFiles) {
    if (SSL_CTX_load_verify_locations(sock->ctx, ca.c_str(), nullptr) != 1) {
      t_lastSslError = "cannot load CA file " + ca;
      ERR_clear_error();
      FreeTls(*sock);
      err = kWsaEinval;
      return -1;
    }
  }
  sock->ssl = SSL_new(sock->ctx);
  BIO* bio = sock->ssl ? BIO_new(NoSignalSocketMethod()) : nullptr;
  if (!bio) {
    t_lastSslError = SslErrorText();
    FreeTls(*sock);
    err = kWsaEnobufs;
    return -1;
  }
  BIO_set_fd(bio, sock->fd, BIO_NOCLOSE);
  SSL_set_bio(sock->ssl, bio, bio);
  SSL_set_ex_data(sock->ssl, g_exIndex, sock.get());
  SSL_set_verify(sock->ssl, SSL_VERIFY_PEER, VerifyCollect);
  if (!sock->peer.empty()) {
    uint32_t dummy;
    if (ParseIPv4(sock->peer.c_str(), dummy)) {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(sock->ssl), sock->peer.c_str());
    } else {
      SSL_set_tlsext_host_name(sock->ssl, sock->peer.c_str());
      SSL_set1_host(sock->ssl, sock->peer.c_str());
    }
  } else {
    // Nobody named the expected host: nothing can vouch for the name.
    sock->verifyFlags |= kCertNameMismatch;
  }
  // The whole handshake gets the socket's receive time-out.
  timeval rcv{};
  socklen_t rcvLen = sizeof rcv;
  long long limitMs = 0;
  if (getsockopt(sock->fd, SOL_SOCKET, SO_RCVTIMEO, &rcv, &rcvLen) == 0)
    limitMs = static_cast<long long>(rcv.tv_sec) * 1000 + rcv.tv_usec / 1000;
  t_handshakeDeadlineSet = limitMs > 0;
  t_handshakeTimedOut = false;
  t_handshakeDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  int rc;
  for (;;) {
    rc = SSL_connect(sock->ssl);
    if (rc == 1) break;
    int sslErr = SSL_get_error(sock->ssl, rc);
    if (sslErr == SSL_ERROR_SYSCALL && errno == EINTR) continue;
    break;
  }
  bool timedOut = rc != 1 && t_handshakeTimedOut;
  t_handshakeDeadlineSet = false;
  if (rc != 1) {
    t_lastSslError = timedOut ? std::string("the TLS handshake timed out") : SslErrorText();
    ERR_clear_error();
    FreeTls(*sock);
    err = timedOut ? kWsaEtimedout : kWsaEconnreset;
    return -1;
  }
  uint32_t flags = sock->verifyFlags;
  if (SSL_get_verify_result(sock->ssl) != X509_V_OK && flags == 0) flags |= kCertOtherError;
  STACK_OF(X509)* chain = SSL_get_peer_cert_chain(sock->ssl);
  int count = chain ? sk_X509_num(chain) : 0;
  if (count == 0) {
    t_lastSslError = "the server sent no certificate";
    FreeTls(*sock);
    err = kWsaEconnaborted;
    return -1;
  }
  int verdict;
  HookDispatcher dispatcher = g_dispatcher.load();
  if (sock->hook && dispatcher) {
    std::vector<CertBlob> blobs(static_cast<size_t>(count));
    std::vector<unsigned char*> ders(static_cast<size_t>(count), nullptr);
    for (int i = 0; i < count; ++i) {
      int len = i2d_X509(sk_X509_value(chain, i), &ders[static_cast<size_t>(i)]);
      blobs[static_cast<size_t>(i)].cbSize = len > 0 ? static_cast<uint32_t>(len) : 0;
      blobs[static_cast<size_t>(i)].pBlobData = ders[static_cast<size_t>(i)];
    }
    verdict = dispatcher(sock->hook, sock->hookArg, 1, static_cast<uint32_t>(count), blobs.data(), flags);
    for (unsigned char* d : ders) OPENSSL_free(d);
  } else {
    verdict = flags == 0 ? 0 : 1;
  }
  if (verdict != 0) {
    t_lastSslError = "server certificate refused";
    FreeTls(*sock);
    err = kWsaEconnaborted;
    return -1;
  }
  sock->tlsActive = true;
  return 0;
}

bool CrackCertificate(const uint8_t* der, size_t len, CertInfo& info) {
  if (!der || len == 0 || len > 1u << 20) return false;
  const unsigned char* p = der;
  X509* x = d2i_X509(nullptr, &p, static_cast<long>(len));
  if (!x) {
    ERR_clear_error();
    return false;
  }
  info = CertInfo();
  info.version = static_cast<uint32_t>(X509_get_version(x));
  if (const ASN1_INTEGER* serial = X509_get0_serialNumber(x)) {
    if (BIGNUM* bn = ASN1_INTEGER_to_BN(serial, nullptr)) {
      unsigned char bytes[16] = {0};
      int n = BN_num_bytes(bn);
      if (n <= 16) {
        BN_bn2binpad(bn, bytes, 16);
        for (int i = 0; i < 16; ++i) {
          int from = 15 - i;  // little-endian words, least significant first
          info.serial[i / 4] |= static_cast<uint32_t>(bytes[from]) << (8 * (i % 4));
        }
      }
      BN_free(bn);
    }
  }
  info.validFromUnix = AsnTimeToUnix(X509_get0_notBefore(x));
  info.validUntilUnix = AsnTimeToUnix(X509_get0_notAfter(x));
  info.issuer = NameText(X509_get_issuer_name(x));
  info.subject = NameText(X509_get_subject_name(x));
  X509_free(x);
  return true;
}

std::string LastSslError() { return t_lastSslError; }

void SetHookDispatcher(HookDispatcher dispatcher) { g_dispatcher.store(dispatcher); }

}  // namespace qk::sockcore
