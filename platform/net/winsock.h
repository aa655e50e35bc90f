// Windows Sockets 1.1 as the device offers it, over POSIX sockets: TCP over
// IPv4, blocking calls, the platform's error numbers (WSAGetLastError).
//
// Behaviour on this host:
// - send() sends the whole buffer (short writes and EINTR are retried) and
//   never raises SIGPIPE; recv() retries EINTR.
// - Waiting is WSAPoll (a poll(2) underneath); a secure socket with decrypted
//   bytes already buffered is reported readable at once.
// - shutdown() may come from another thread than the one blocked in recv()
//   or WSAPoll on the same socket: it makes that call return. closesocket()
//   belongs to the owner thread.
// - gethostbyname() resolves with getaddrinfo (IPv4 addresses only); the
//   returned record is per thread and valid until the thread's next call.
// - setsockopt(SOL_SOCKET, SO_RCVTIMEO / SO_SNDTIMEO) takes a DWORD of
//   milliseconds; the send time-out also bounds connect().
//
// Do not include this header together with the host's socket headers.
#pragma once

#include "kernel/types.h"

typedef UINT_PTR SOCKET;
// The platform's USHORT/ULONG would clash with the host's <sys/types.h>
// (where ULONG is 64 bits wide); USHORT and ULONG stand in for them.

#define INVALID_SOCKET (static_cast<SOCKET>(~static_cast<SOCKET>(0)))
#define SOCKET_ERROR (-1)

#define AF_UNSPEC 0
#define AF_INET 2
#define PF_INET AF_INET
#define SOCK_STREAM 1
#define IPPROTO_TCP 6
#define SOL_SOCKET 0xffff
#define SO_KEEPALIVE 0x0008
#define SO_SNDTIMEO 0x1005
#define SO_RCVTIMEO 0x1006
#define SD_RECEIVE 0x00
#define SD_SEND 0x01
#define SD_BOTH 0x02

#define INADDR_ANY 0x00000000u
#define INADDR_LOOPBACK 0x7f000001u
#define INADDR_NONE 0xffffffffu

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
};
typedef WSADATA* LPWSADATA;

struct in_addr {
  ULONG s_addr;  // network byte order
};

struct sockaddr {
  USHORT sa_family;
  char sa_data[14];
};

struct sockaddr_in {
  short sin_family;
  USHORT sin_port;
  in_addr sin_addr;
  char sin_zero[8];
};
typedef sockaddr* LPSOCKADDR;
typedef sockaddr_in* LPSOCKADDR_IN;

struct hostent {
  char* h_name;
  char** h_aliases;
  short h_addrtype;
  short h_length;
  char** h_addr_list;
};
#define h_addr h_addr_list[0]

// Error numbers.
#define WSABASEERR 10000
#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAEINPROGRESS 10036
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAEMSGSIZE 10040
#define WSAEPROTONOSUPPORT 10043
#define WSAEOPNOTSUPP 10045
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEISCONN 10056
#define WSAENOTCONN 10057
#define WSAESHUTDOWN 10058
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAEHOSTUNREACH 10065
#define WSASYSNOTREADY 10091
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093
#define WSAHOST_NOT_FOUND 11001
#define WSATRY_AGAIN 11002
#define WSANO_RECOVERY 11003
#define WSANO_DATA 11004

// WSAPoll.
#define POLLRDNORM 0x0100
#define POLLRDBAND 0x0200
#define POLLWRNORM 0x0010
#define POLLERR_ 0x0001
#define POLLHUP_ 0x0002
#define POLLNVAL_ 0x0004
struct WSAPOLLFD {
  SOCKET fd;
  SHORT events;
  SHORT revents;
};
typedef WSAPOLLFD* LPWSAPOLLFD;

struct WSAOVERLAPPED;
typedef WSAOVERLAPPED* LPWSAOVERLAPPED;
typedef void (*LPWSAOVERLAPPED_COMPLETION_ROUTINE)(DWORD error, DWORD transferred, LPWSAOVERLAPPED overlapped,
                                                   DWORD flags);

int WSAStartup(WORD versionRequested, LPWSADATA data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

SOCKET socket(int af, int type, int protocol);
int connect(SOCKET s, const sockaddr* name, int nameLen);
int send(SOCKET s, const char* buf, int len, int flags);
int recv(SOCKET s, char* buf, int len, int flags);
int shutdown(SOCKET s, int how);
int closesocket(SOCKET s);
int setsockopt(SOCKET s, int level, int optName, const char* optVal, int optLen);
int getsockopt(SOCKET s, int level, int optName, char* optVal, int* optLen);
// Waits for readiness, timeout in milliseconds (-1 = forever).
int WSAPoll(LPWSAPOLLFD fds, ULONG count, INT timeout);
int WSAIoctl(SOCKET s, DWORD ioControlCode, LPVOID inBuffer, DWORD inLength, LPVOID outBuffer, DWORD outLength,
             LPDWORD bytesReturned, LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE completion);

ULONG inet_addr(const char* cp);
hostent* gethostbyname(const char* name);
USHORT htons(USHORT v);
USHORT ntohs(USHORT v);
ULONG htonl(ULONG v);
ULONG ntohl(ULONG v);
