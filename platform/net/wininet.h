// The one-URL Internet API: sessions, URL requests, reads and the status
// callback, over libcurl. Redirects are followed, to http and https only;
// the body of every HTTP status is given to the reader; https is verified
// against the system's CA store. No coded body is asked for: an answer with
// a Content-Encoding other than identity, or a Content-Length that is not one
// decimal number (a sign, an overflow, two values that disagree), fails with
// ERROR_HTTP_INVALID_SERVER_RESPONSE. A transfer
// that brings fewer than 256 bytes in a period of the receive time-out
// (INTERNET_OPTION_RECEIVE_TIMEOUT, 60 s when not set) fails with
// ERROR_INTERNET_TIMEOUT.
//
// A session opened with INTERNET_FLAG_ASYNC works as the platform does:
// InternetOpenUrlW returns null with ERROR_IO_PENDING, then the status
// callback reports INTERNET_STATUS_HANDLE_CREATED with the request handle and
// INTERNET_STATUS_REQUEST_COMPLETE once the answer's headers are in (or with
// the error). A read that finds no data yet returns FALSE with
// ERROR_IO_PENDING and completes through INTERNET_STATUS_REQUEST_COMPLETE
// after filling the caller's buffer. Without the flag every call blocks.
// The callback runs on the request's own transfer thread.
#pragma once

#include <cstdarg>

#include "kernel/types.h"

typedef void* HINTERNET;
typedef HINTERNET* LPHINTERNET;

#define INTERNET_OPEN_TYPE_PRECONFIG 0
#define INTERNET_OPEN_TYPE_DIRECT 1
#define INTERNET_OPEN_TYPE_PROXY 3

#define INTERNET_FLAG_ASYNC 0x10000000u
#define INTERNET_FLAG_RELOAD 0x80000000u
#define INTERNET_FLAG_NO_CACHE_WRITE 0x04000000u
#define INTERNET_FLAG_EXISTING_CONNECT 0x20000000u
#define INTERNET_FLAG_PRAGMA_NOCACHE 0x00000100u
#define INTERNET_FLAG_NO_AUTO_REDIRECT 0x00200000u
#define INTERNET_FLAG_SECURE 0x00800000u

#define INTERNET_OPTION_CONNECT_TIMEOUT 2
#define INTERNET_OPTION_SEND_TIMEOUT 5
#define INTERNET_OPTION_RECEIVE_TIMEOUT 6

#define INTERNET_STATUS_HANDLE_CREATED 60
#define INTERNET_STATUS_HANDLE_CLOSING 70
#define INTERNET_STATUS_REQUEST_COMPLETE 100
#define INTERNET_INVALID_STATUS_CALLBACK (reinterpret_cast<INTERNET_STATUS_CALLBACK>(static_cast<intptr_t>(-1)))

#define IRF_ASYNC 0x00000001
#define IRF_SYNC 0x00000004
#define IRF_USE_CONTEXT 0x00000008
#define IRF_NO_WAIT 0x00000008

#define HTTP_QUERY_STATUS_CODE 19
#define HTTP_QUERY_RAW_HEADERS_CRLF 22
#define HTTP_QUERY_FLAG_NUMBER 0x20000000u

#ifndef ERROR_IO_PENDING
#define ERROR_IO_PENDING 997L
#endif
#ifndef INTERNET_ERROR_BASE
#define INTERNET_ERROR_BASE 12000
#endif
#define ERROR_INTERNET_OUT_OF_HANDLES 12001
#define ERROR_INTERNET_TIMEOUT 12002
#define ERROR_INTERNET_EXTENDED_ERROR 12003
#define ERROR_INTERNET_INTERNAL_ERROR 12004
#ifndef ERROR_INTERNET_INVALID_URL
#define ERROR_INTERNET_INVALID_URL 12005
#endif
#ifndef ERROR_INTERNET_UNRECOGNIZED_SCHEME
#define ERROR_INTERNET_UNRECOGNIZED_SCHEME 12006
#endif
#define ERROR_INTERNET_NAME_NOT_RESOLVED 12007
#define ERROR_INTERNET_INVALID_OPTION 12009
#define ERROR_INTERNET_INCORRECT_HANDLE_TYPE 12018
#define ERROR_INTERNET_OPERATION_CANCELLED 12017
#define ERROR_INTERNET_CANNOT_CONNECT 12029
#define ERROR_INTERNET_CONNECTION_ABORTED 12030
#define ERROR_INTERNET_CONNECTION_RESET 12031
#define ERROR_INTERNET_SEC_CERT_CN_INVALID 12038
#define ERROR_INTERNET_INVALID_CA 12045
#define ERROR_HTTP_INVALID_SERVER_RESPONSE 12152
#define ERROR_HTTP_REDIRECT_FAILED 12156
#define ERROR_INTERNET_SECURITY_CHANNEL_ERROR 12157
#define ERROR_INTERNET_DISCONNECTED 12163
#define INET_E_DOWNLOAD_FAILURE ((HRESULT)0x800C0008L)

struct INTERNET_ASYNC_RESULT {
  DWORD_PTR dwResult;
  DWORD dwError;
};
typedef INTERNET_ASYNC_RESULT* LPINTERNET_ASYNC_RESULT;

struct INTERNET_BUFFERSA {
  DWORD dwStructSize;
  INTERNET_BUFFERSA* Next;
  LPCSTR lpcszHeader;
  DWORD dwHeadersLength;
  DWORD dwHeadersTotal;
  LPVOID lpvBuffer;
  DWORD dwBufferLength;
  DWORD dwBufferTotal;
  DWORD dwOffsetLow;
  DWORD dwOffsetHigh;
};
typedef INTERNET_BUFFERSA* LPINTERNET_BUFFERSA;

typedef void (*INTERNET_STATUS_CALLBACK)(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                         DWORD infoLength);

HINTERNET InternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR proxyBypass, DWORD flags);
BOOL InternetSetOptionW(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length);
INTERNET_STATUS_CALLBACK InternetSetStatusCallbackW(HINTERNET handle, INTERNET_STATUS_CALLBACK callback);
HINTERNET InternetOpenUrlW(HINTERNET session, LPCWSTR url, LPCWSTR headers, DWORD headersLength, DWORD flags,
                           DWORD_PTR context);
BOOL InternetReadFileExA(HINTERNET request, LPINTERNET_BUFFERSA buffers, DWORD flags, DWORD_PTR context);
BOOL InternetReadFile(HINTERNET request, LPVOID buffer, DWORD toRead, LPDWORD read);
BOOL HttpQueryInfoW(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD length, LPDWORD index);
BOOL InternetCloseHandle(HINTERNET handle);
// The calling thread's last server response text (the transfer library's
// error message of the last failed request).
BOOL InternetGetLastResponseInfoW(LPDWORD error, LPWSTR buffer, LPDWORD length);

// The message texts of the 120xx errors live in the Internet module:
// FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE, InternetModuleHandle(), ...).
HMODULE InternetModuleHandle();

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
// Looks the code up in the Internet module's table (FROM_HMODULE with
// InternetModuleHandle) and then in a small system table (FROM_SYSTEM);
// returns the characters written (the text ends with "\r\n", as the
// platform's texts do) or 0 when there is no text. With
// FORMAT_MESSAGE_ALLOCATE_BUFFER the text is a LocalAlloc block.
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size,
                     va_list* arguments);

namespace qk::net {
// Loads the transfer library and sets it up now, on the calling thread, if
// that is not done yet; the first session then finds it ready. A program that knows
// it will download can do this on a thread of its own while it does other
// work. No thread may be started while the library loads (the loader holds
// its lock throughout), so start the threads the program needs first.
void PreloadTransferLibrary();
}  // namespace qk::net
