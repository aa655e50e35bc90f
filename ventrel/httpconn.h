// HTTP/1.1 messages over one socket: requests, the response reader (status
// line, headers, plain, sized or chunked bodies) and the buffered file that
// stores a body. Every request asks the server to close the connection, so
// one connection serves one request.
//
// On the wire (ventrel/README.md has the whole list):
// - "Host" carries ":port" when the port is not the scheme's default (80
//   for http, 443 for https); a CONNECT's "Host" is "host:port".
// - A proxy that answers a CONNECT with a status outside 200-299 fails Open:
//   the downloader reports code 4 and nothing goes through the proxy.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "framework/afx.h"
#include "kernel/kernel.h"
#include "ventrel/httpsocket.h"

typedef std::vector<std::pair<CString, CString>> CHeaderList;

// Text and the bytes it travels as. Reply bytes become text as UTF-8; a byte
// that is not part of valid UTF-8 becomes the unit 0xDC00 + byte, which
// WireBytes turns back into that byte, so a reply value (a session id, a
// token) goes back to the server byte for byte. Other text goes out as
// UTF-8.
CString TextOfBytes(const std::string& bytes);
std::string WireBytes(const CString& text);

enum { HTTP_METHOD_GET = 0, HTTP_METHOD_POST = 1, HTTP_METHOD_CONNECT = 2 };

class CHttpRequest {
 public:
  // For CONNECT, path is the target host and port its port; other requests
  // pass port -1 (origin form).
  CHttpRequest(int method, const CString& path, int port = -1);
  virtual ~CHttpRequest() = default;

  // Replaces the value of a header of exactly that name, else appends.
  void AddHeader(const CString& name, const CString& value);
  void AddHeader(const CString& name, int number);
  void AddHeaders(const CHeaderList& list);
  // One "Cookie" header per text, always appended.
  void AddCookies(const std::vector<CString>& cookies);
  // The request as sent: 8-bit text, the body only for POST.
  std::string Serialize(const CStringList* rawLines) const;
  BOOL Write(CHttpSocket& socket, const CStringList* rawLines) const;
  BOOL GetHeader(LPCWSTR name, CString& value) const;
  LPCWSTR GetMethodText() const;
  // The path as the request line carries it (ASCII, percent-encoded), which
  // a Digest answer must name.
  CString GetWireTarget() const;

  int m_nMethod;
  CString m_strPath;
  CString m_strRequestLine;
  CHeaderList m_headers;
  CString m_strBody;
};

class CHttpResponse {
 public:
  virtual ~CHttpResponse() = default;
  // Status of "HTTP/d.d NNN ..."; 0 for any other form.
  void ParseStatusLine(const CString& line);
  void AddHeader(const CString& name, const CString& value);
  // The first header of that name, compared without regard to case.
  BOOL GetHeader(LPCWSTR name, CString& value) const;

  int m_nStatusCode = 0;
  CString m_strStatusLine;
  CHeaderList m_headers;
};

// Where the response reader takes its bytes from.
class CByteSource {
 public:
  virtual ~CByteSource() = default;
  // Up to size bytes; 0 when the peer closed, -1 on error or time-out.
  virtual int Receive(char* buffer, int size) = 0;
  // A receive after a complete body, made only to see whether more bytes
  // follow; a source may wait less for it than for body bytes.
  virtual int ReceiveAfterEnd(char* buffer, int size) { return Receive(buffer, size); }
};

// Where a body goes.
class CByteSink {
 public:
  virtual ~CByteSink() = default;
  virtual BOOL Write(const char* data, int length) = 0;
};

// The longest body a connection stores and the longest its transfer may
// take: no feed or service reply comes near either, and a server that sends
// without end, or a few bytes now and then for ever, neither fills the disk
// nor holds the caller.
#define HTTP_MAX_BODY_BYTES (32u << 20)
#define HTTP_MAX_BODY_MS 300000u

// Limits that keep a hostile server from holding the reader.
struct CResponseLimits {
  size_t maxLine = 64 * 1024;         // one header or chunk-size line
  size_t maxHeaderBytes = 256 * 1024;  // status line and all headers
  size_t maxHeaders = 512;
};

// How the body of a response ends.
struct CBodyFraming {
  enum Kind { UNTIL_CLOSE, LENGTH, CHUNKED } kind = UNTIL_CLOSE;
  uint64_t length = 0;
};

// Results of reading a response.
enum {
  READ_OK = 0,
  READ_FAILED = 1,      // receive error, time-out or early close
  READ_BAD_SYNTAX = 2,  // a line too long, a bad chunk size, a body longer than announced
  READ_WRITE_FAILED = 3
};

// Reads one line (ending with its line feed) from the source; READ_FAILED
// when the peer closes before a line feed or the receive fails.
int ReadHttpLine(CByteSource& source, std::string& line, size_t maxLine);
// Reads the status line and headers. A header line that starts with a
// blank or a tab continues the header before it (joined by one blank). The
// response is null on failure.
int ReadResponseHead(CByteSource& source, const CResponseLimits& limits, CHttpResponse*& response,
                     CString& why);
// Reads the answer to a request: interim answers (status 100 to 199) that
// come before it are read and dropped.
int ReadFinalResponseHead(CByteSource& source, const CResponseLimits& limits, CHttpResponse*& response,
                          CString& why);
// Decides the framing of a response body; FALSE (with why) for a body that
// cannot be read soundly: an unknown transfer coding, a content coding, an
// invalid or contradictory Content-Length.
BOOL GetBodyFraming(const CHttpResponse& response, CBodyFraming& framing, CString& why);
// Moves the body to the sink. A sized body is complete with its announced
// bytes; bytes the server still sends before it closes are stored too (as a
// body read until the close would hold them), for at most about a second
// and a megabyte, and never fail the body.
int ReadResponseBody(CByteSource& source, const CBodyFraming& framing, CByteSink& sink,
                     const CResponseLimits& limits, CString& why, uint64_t* received = nullptr);

// A file written or read through a buffer.
class CBufferedFile {
 public:
  explicit CBufferedFile(DWORD bufferSize);
  virtual ~CBufferedFile();
  CBufferedFile(const CBufferedFile&) = delete;
  CBufferedFile& operator=(const CBufferedFile&) = delete;

  virtual BOOL Open(LPCWSTR path, DWORD access, DWORD share, DWORD creation, DWORD attributes);
  virtual BOOL Read(void* data, DWORD length, DWORD& read);
  virtual BOOL Write(const void* data, DWORD length);
  virtual BOOL Close();
  virtual BOOL Seek(LONG offset, int origin);
  void Lock() { EnterCriticalSection(&m_cs); }
  void Unlock() { LeaveCriticalSection(&m_cs); }

 private:
  BOOL Flush();

  HANDLE m_hFile;
  std::vector<char> m_buffer;
  DWORD m_nBufferSize;
  DWORD m_nPosition;   // in the buffer
  DWORD m_nValid;      // bytes of the buffer holding file data (reading)
  uint64_t m_nOffset;  // file offset of the buffer's start
  DWORD m_nAccess;
  CRITICAL_SECTION m_cs;
};

class CHttpConnection {
 public:
  explicit CHttpConnection(DWORD timeoutMs);
  virtual ~CHttpConnection();
  CHttpConnection(const CHttpConnection&) = delete;
  CHttpConnection& operator=(const CHttpConnection&) = delete;

  // From any thread: wakes and fails the running transfer; every later Open
  // fails until ResetCancel.
  virtual void Terminate();
  // TRUE once Terminate ran (never cleared).
  virtual BOOL GetConnectionState();
  // Clears the cancel request at the start of a new operation.
  void ResetCancel() { m_cancel.store(false); }
  BOOL IsCancelled() const { return m_cancel.load(); }

  void SetProxy(const CProxySettings* proxy);
  const CProxySettings* GetProxy() const { return m_pProxy; }
  void SetUserAgent(const CString& agent) { m_strUserAgent = agent; }
  const CString& GetUserAgent() const { return m_strUserAgent; }
  void SetTimeout(DWORD ms) { m_socket.m_nTimeout = ms; }
  DWORD GetTimeout() const { return m_socket.m_nTimeout; }
  void SetCaFile(const CString& hostPath) { m_strCaFile = hostPath; }

  BOOL Open(int kind, const CString& host, int port);
  CHttpRequest* CreateRequest(const CString& path, int method);
  BOOL SendRequest(CHttpRequest* request, const CStringList* rawLines = nullptr);
  CHttpResponse* ReceiveResponse();
  // Stores the body of the response in the file. A body longer than the
  // body bound (ERROR_FILE_TOO_LARGE) or still coming when the time bound
  // has passed (ERROR_TIMEOUT) fails, and its file is removed.
  BOOL GetFile(CHttpResponse* response, const CString& path);
  // The bounds of the bodies GetFile stores (HTTP_MAX_BODY_BYTES and
  // HTTP_MAX_BODY_MS unless set).
  void SetBodyLimits(uint64_t maxBytes, DWORD maxMs) {
    m_nMaxBody = maxBytes;
    m_nMaxBodyMs = maxMs;
  }
  void Close();
  DWORD GetSavedError() const { return m_nSavedError; }

 private:
  class SocketSource;
  BOOL ProxyConnect(int kind, const CString& host, int port);

  CString m_strUserAgent;
  CHttpSocket m_socket;
  CString m_strHost;
  int m_nPort = 0;
  int m_nKind = 0;
  std::atomic<int> m_terminated{0};
  std::atomic<bool> m_cancel{false};
  CProxySettings* m_pProxy = nullptr;
  DWORD m_nSavedError = 0;
  CString m_strCaFile;
  CResponseLimits m_limits;
  uint64_t m_nMaxBody = HTTP_MAX_BODY_BYTES;
  DWORD m_nMaxBodyMs = HTTP_MAX_BODY_MS;
  SocketSource* m_pSource = nullptr;  // reader of the current response
};
