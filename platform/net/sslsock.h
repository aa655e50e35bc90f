// The device's secure sockets: a Windows Sockets stream switched to SSL with
// setsockopt(SOL_SOCKET, SO_SECURE, SO_SEC_SSL) and driven with WSAIoctl,
// over OpenSSL on this host.
//
// - Without SSL_FLAG_DEFER_HANDSHAKE the handshake runs inside connect();
//   with it, bytes pass in clear (a proxy negotiation) until
//   SO_SSL_PERFORM_HANDSHAKE.
// - The server certificate is checked against the system's CA store plus any
//   file given with SO_SSL_ADD_CA_FILE, its dates, and the name given with
//   SO_SSL_SET_PEERNAME (also sent as SNI). The outcome reaches the
//   validation hook in its flags (0 = chain trusted, in date and issued for
//   the peer name); the hook's answer decides (SSL_ERR_OKAY accepts). Without
//   a hook only a certificate that passed every check is accepted.
// - A refused certificate or failed negotiation fails the handshake with
//   WSAECONNABORTED or WSAECONNRESET; SslLastHandshakeError() describes it.
// - The whole handshake is bounded by the socket's receive time-out
//   (SO_RCVTIMEO), not only each read of it: a server that trickles its
//   handshake fails it with WSAETIMEDOUT.
#pragma once

#include <string>

#include "net/winsock.h"

#define SO_SECURE 0x2001
#define SO_SEC_SSL 0x2001

// WSAIoctl codes of the secure socket provider.
#define SO_SSL_GET_CAPABILITIES 0x50730001u
#define SO_SSL_GET_FLAGS 0x50730002u
#define SO_SSL_SET_FLAGS 0x90730002u
#define SO_SSL_SET_PEERNAME 0x90730004u
#define SO_SSL_SET_VALIDATE_CERT_HOOK 0x90730008u
#define SO_SSL_PERFORM_HANDSHAKE 0x1073000du
// Host extension: names a PEM file of further trusted CA certificates (a
// host path, 8-bit text with its terminator as the input buffer).
#define SO_SSL_ADD_CA_FILE 0x90730100u

#define SSL_FLAG_DEFER_HANDSHAKE 0x0008

// Hook types and answers.
#define SSL_CERT_X509 1
#define SSL_CERT_FLAG_ISSUER_UNKNOWN 0x0001
// Host extensions of the flags: what else the check found.
#define SSL_CERT_FLAG_NAME_MISMATCH 0x00010000
#define SSL_CERT_FLAG_NOT_TIME_VALID 0x00020000
#define SSL_CERT_FLAG_OTHER_ERROR 0x00040000

#define SSL_ERR_OKAY 0
#define SSL_ERR_BAD_LEN 1
#define SSL_ERR_BAD_TYPE 2
#define SSL_ERR_BAD_DATA 3
#define SSL_ERR_NO_CERT 4
#define SSL_ERR_BAD_SIG 5
#define SSL_ERR_CERT_EXPIRED 6
#define SSL_ERR_CERT_REVOKED 7
#define SSL_ERR_CERT_UNKNOWN 8
#define SSL_ERR_SIGNATURE 9

struct BLOB {
  ULONG cbSize;
  BYTE* pBlobData;
};
typedef BLOB* LPBLOB;

typedef int (*SSL_CRACK_CERT_HOOK_FN)(DWORD type, LPVOID arg, DWORD chainLen, LPBLOB certChain, DWORD flags);
typedef SSL_CRACK_CERT_HOOK_FN SSLVALIDATECERTFUNC;

struct SSLVALIDATECERTHOOK {
  SSLVALIDATECERTFUNC HookFunc;
  LPVOID pvArg;
};
typedef SSLVALIDATECERTHOOK* PSSLVALIDATECERTHOOK;

// Certificate cracking of the secure channel library.
typedef unsigned int ALG_ID;
struct X509Certificate {
  DWORD Version;
  DWORD SerialNumber[4];
  ALG_ID SignatureAlgorithm;
  FILETIME ValidFrom;
  FILETIME ValidUntil;
  char* pszIssuer;   // "c=..., o=..., cn=..." (attribute names in lower case)
  char* pszSubject;
  void* pPublicKey;
};
typedef X509Certificate* PX509Certificate;

BOOL SslCrackCertificate(BYTE* certificate, DWORD length, DWORD flags, PX509Certificate* cracked);
void SslFreeCertificate(PX509Certificate cracked);

// Host extension: why the last handshake on this thread failed.
std::string SslLastHandshakeError();
