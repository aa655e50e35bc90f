// The transaction layer of the HTTP client: one exchange at a time from a
// URL to a file or a text, over its own connection (direct or through the
// configured proxy, with TLS for https), with stored cookies, conditional
// headers, redirects, Basic and Digest authentication and a numeric
// last-error code.
#pragma once

#include <string>
#include <vector>

#include "framework/afx.h"
#include "ventrel/httpconn.h"

// Last-error codes of a transfer (0 = success).
enum {
  DL_OK = 0,
  DL_STORE_FAILED = 1,
  DL_NO_RESPONSE = 2,
  DL_NO_REQUEST = 3,
  DL_NO_CONNECTION = 4,
  DL_BAD_URL = 5,
  DL_BAD_CHALLENGE = 6,
  DL_UNKNOWN_SCHEME = 7,
  DL_NO_LOCATION = 8,
  DL_UNEXPECTED_STATUS = 9,
  DL_AUTH_REFUSED = 10,
  DL_NO_CREDENTIALS = 11,
  DL_DISK_FULL = 12
};

// Transfer states.
enum { DLS_CONNECTING = 1, DLS_REQUEST_BUILT, DLS_WAITING, DLS_RECEIVING, DLS_CHALLENGE, DLS_AUTHENTICATING };

// The name of the temporary file of DownloadToString and Post (a bare name,
// in the device root); the main program deletes it by this name at exit.
#define DOWNLOADER_TEMP_FILE u"QuilletDownloader.tmp"

// The fixed client nonce and nonce count of Digest answers.
#define DIGEST_CNONCE "7b3e90c4"

class CDownloader {
 public:
  CDownloader();
  virtual ~CDownloader();
  CDownloader(const CDownloader&) = delete;
  CDownloader& operator=(const CDownloader&) = delete;

  // GET url into the file path. The caller's url has its character
  // references decoded. A body that does not come whole fails
  // (DL_STORE_FAILED) and leaves no file at path.
  virtual BOOL SaveHttpObject(CString& url, const CString& path, int context);
  // GET url into text (8-bit text widened in the default code page).
  virtual BOOL DownloadToString(CString& url, CString& text, int context);
  // POST a form body; the answer's body into reply.
  virtual BOOL Post(CString& url, const CString& body, CString& reply, int context);
  // From any thread: aborts the running transfer.
  virtual void Terminate();
  virtual BOOL GetConnectionState();

  virtual void OnBeginRequest(int context);
  virtual void AddConditionalHeaders(CHttpRequest* request, int context);
  // Evaluates the answers of one transfer (redirects, challenges); TRUE when
  // the final response's body is to be stored. request and response may be
  // replaced.
  virtual BOOL OnResponse(CHttpRequest*& request, CHttpResponse*& response, int context);
  virtual BOOL OnBeforeBody(int context);
  virtual void OnComplete(int context);
  virtual BOOL OnAuthentication(int context);

  // Empties ETag, Last-Modified, charset and the cookie list.
  void ResetRequest();
  void AddCookie(const CString& cookie);
  // Extra headers sent with every request, also after a redirect.
  void AddHeader(const CString& name, const CString& value);
  void ClearHeaders();
  // "host:port" of an HTTP proxy; empty for none.
  void SetProxy(const CString& proxy);
  // Any proxy kind (SOCKS4, SOCKS5, HTTP) with its credentials; null for none.
  void SetProxySettings(const CProxySettings* proxy);
  void SetCredentials(const CString& user, const CString& password);
  void ClearCredentials();
  void SetUserAgent(const CString& agent) { m_connection.SetUserAgent(agent); }
  void SetTimeout(DWORD ms) { m_connection.SetTimeout(ms); }
  // The longest body a transfer stores and the longest it may take to
  // come; a body that passes either fails (DL_STORE_FAILED) and leaves no
  // file.
  void SetTransferLimits(uint64_t maxBytes, DWORD maxMs) { m_connection.SetBodyLimits(maxBytes, maxMs); }
  // A PEM file of further trusted CA certificates (host path).
  void SetCaFile(const CString& hostPath) { m_connection.SetCaFile(hostPath); }
  // Starts a new operation: forgets an earlier Terminate.
  void ResetCancel() { m_connection.ResetCancel(); }
  BOOL IsCancelled() const { return m_connection.IsCancelled(); }

  int GetLastErrorCode() const { return m_nLastError; }
  int GetLastStatus() const { return m_nLastStatus; }
  int GetState() const { return m_nState; }
  BOOL IsModified() const { return m_bModified; }
  const CString& GetETag() const { return m_strETag; }
  const CString& GetLastModified() const { return m_strLastModified; }
  const CString& GetCharset() const { return m_strCharset; }
  const CString& GetMediaType() const { return m_strMediaType; }
  const CString& GetCurrentUrl() const { return m_strCurrentUrl; }
  const CString& GetProxy() const { return m_strProxy; }
  CHttpConnection& Connection() { return m_connection; }

  // Digest pieces (hexadecimal results).
  static std::string DigestCalcHA1(const std::string& algorithm, const std::string& user, const std::string& realm,
                                   const std::string& password, const std::string& nonce, const std::string& cnonce);
  static std::string DigestCalcResponse(const std::string& ha1, const std::string& nonce, const std::string& nc,
                                        const std::string& cnonce, const std::string& qop, const std::string& method,
                                        const std::string& uri, const std::string& entityHash);
  // The qop to answer of a challenge's qop list.
  static CString ChooseQop(const CString& offered);

 protected:
  BOOL Transfer(CString& url, const CString& path, int method, const CString* body, int context);
  void ParseProxy();
  void SaveHeaders(CHttpResponse* response);
  BOOL WWWAuthentication(CHttpRequest* request, CHttpResponse*& response, int context);
  BOOL ProxyAuthentication(CHttpRequest* request, CHttpResponse*& response, int context);
  BOOL AnswerChallenge(LPCWSTR challengeHeader, LPCWSTR authorizationHeader, CHttpRequest* request,
                       CHttpResponse*& response, int context);
  BOOL DoAuthentication(const CString& challenge, CHttpRequest* request, CHttpResponse*& response, int context);
  BOOL DoBasicAuthentication(CHttpRequest* request, CHttpResponse*& response, int context);
  BOOL DoDigestAuthentication(CHttpRequest* request, CHttpResponse*& response, int context);
  BOOL PrepareRetry(CHttpResponse*& response, int context);
  BOOL SendAuthorized(CHttpRequest* request, CHttpResponse*& response, const CString& authorization);
  void PrepareAuthorizationHeader(int nonceCount, const CString& uri, const CString& method, const CString& body,
                                  const CString& user, const CString& password, CString& header);
  BOOL ReadTempFile(CString& text);

  CString m_strProxy;
  int m_nState = 0;
  int m_nLastError = 0;
  int m_nLastStatus = 0;
  CString m_strETag;
  CString m_strLastModified;
  BOOL m_bModified = FALSE;
  CHttpConnection m_connection;
  CString m_strCurrentUrl;
  CString m_strCharset;
  CString m_strMediaType;
  CString m_strSpare;
  int m_nKind = 0;
  CString m_strHost;
  WORD m_nPort = 0;
  // Authentication.
  BOOL m_bCredentials = FALSE;
  CString m_strUser;
  CString m_strPassword;
  CString m_strRealm, m_strDomain, m_strNonce, m_strOpaque, m_strStale, m_strAlgorithm, m_strQop;
  CString m_strAuthHeader;
  CHeaderList m_extraHeaders;
  std::vector<CString> m_cookies;
};
