// Internal core of the socket layer: a table of sockets over POSIX file
// descriptors and OpenSSL sessions, reached with plain C++ types only. The
// platform calls in winsock.h and sslsock.h are thin shims over it; keeping
// the system headers (sys/socket.h, netdb.h, OpenSSL) out of those headers
// avoids clashes between the platform's and the host's declarations.
//
// Error values are the platform's WSA error numbers (winsock.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qk::sockcore {

using Id = uintptr_t;
constexpr Id kInvalid = ~Id(0);

// Certificate blob handed to a validation hook (layout of the platform BLOB).
struct CertBlob {
  uint32_t cbSize;
  uint8_t* pBlobData;
};
// The hook is kept opaque here; the dispatcher (set once by the platform
// calls) knows its real type and calls it.
using HookDispatcher = int (*)(void* hook, void* arg, uint32_t type, uint32_t chainLen, CertBlob* chain,
                               uint32_t flags);
void SetHookDispatcher(HookDispatcher dispatcher);

// Table and plain socket operations. Each returns -1 (or kInvalid) and sets
// err on failure.
Id Create(int& err);
int Connect(Id s, uint32_t addrNetOrder, uint16_t portNetOrder, int& err);
// Sends the whole buffer (retrying short writes and EINTR, never raising
// SIGPIPE); through TLS once the handshake is done.
int Send(Id s, const void* data, size_t len, int& err);
// One receive (through TLS once the handshake is done); 0 = closed by peer.
int Recv(Id s, void* data, size_t len, int& err);
int Shutdown(Id s, int how, int& err);
int Close(Id s, int& err);
int SetKeepAlive(Id s, bool on, int& err);
// Time-outs of blocking calls on the descriptor (connect and send honour the
// send time-out, reads inside TLS records the receive one); -1 leaves one as is.
int SetTimeouts(Id s, int recvMs, int sendMs, int& err);

// Waits until one of the sockets is readable (POLLRDNORM) or writable. A TLS
// socket with decrypted bytes already buffered counts as readable at once.
// Returns the number of ready entries, 0 on time-out, -1 on error.
struct PollEntry {
  Id s;
  short events;   // kPollIn / kPollOut
  short revents;  // kPollIn / kPollOut / kPollErr / kPollHup / kPollNval
};
constexpr short kPollIn = 0x0100;
constexpr short kPollOut = 0x0010;
constexpr short kPollErr = 0x0001;
constexpr short kPollHup = 0x0002;
constexpr short kPollNval = 0x0004;
int Poll(PollEntry* entries, size_t n, int timeoutMs, int& err);

// Dotted IPv4 text to an address in network order; false when not dotted.
bool ParseIPv4(const char* text, uint32_t& addrNetOrder);
// Host name lookup (getaddrinfo, IPv4 only).
bool ResolveIPv4(const char* name, std::vector<uint32_t>& addrsNetOrder, int& err);

// Secure sockets.
int SetSecure(Id s, int& err);
int SetSslFlags(Id s, uint32_t flags, int& err);
uint32_t GetSslFlags(Id s, int& err);
int SetValidateHook(Id s, void* hook, void* arg, int& err);
int SetPeerName(Id s, const std::string& name, int& err);
int AddCaFile(Id s, const std::string& hostPath, int& err);
int PerformHandshake(Id s, int& err);

// Certificate verification outcome bits reported to the hook.
constexpr uint32_t kCertIssuerUnknown = 0x0001;
constexpr uint32_t kCertNameMismatch = 0x00010000;
constexpr uint32_t kCertNotTimeValid = 0x00020000;
constexpr uint32_t kCertOtherError = 0x00040000;
constexpr uint32_t kSslFlagDeferHandshake = 0x0008;

// Parsed certificate fields (SslCrackCertificate).
struct CertInfo {
  uint32_t version = 0;
  uint32_t serial[4] = {0, 0, 0, 0};
  int64_t validFromUnix = 0;
  int64_t validUntilUnix = 0;
  std::string issuer;   // "c=..., o=..., cn=..."
  std::string subject;
};
bool CrackCertificate(const uint8_t* der, size_t len, CertInfo& info);

// Error message of the last handshake failure on this thread (for logs).
std::string LastSslError();

}  // namespace qk::sockcore
