// HTTP downloader and authentication.
#include "ventrel/downloader.h"

#include <memory>

#include "common/encoding.h"
#include "ventrel/digests.h"
#include "ventrel/urlhelpers.h"
#include "ventrel/vlog.h"

namespace {

// The low 8 bits of each unit, as Basic credentials carry them.
std::string LowBytes(const CString& s) {
  std::string out;
  for (int i = 0; i < s.GetLength(); ++i) out += char(s[i] & 0xff);
  return out;
}

CString Widen(const std::string& s) {
  int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), int(s.size()) + 1, nullptr, 0);
  if (n <= 0) return CString();
  std::u16string w(size_t(n), u'\0');
  MultiByteToWideChar(CP_ACP, 0, s.c_str(), int(s.size()) + 1, w.data(), n);
  w.resize(size_t(n - 1));
  return CString(std::move(w));
}

// Whether a URL begins with a scheme and its "://": a letter, then letters,
// digits, "+", "-" or ".", then "://".
bool HasScheme(const CString& url) {
  const int n = url.GetLength();
  int i = 0;
  auto isAlpha = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
  if (n == 0 || !isAlpha(url[0])) return false;
  while (i < n && (isAlpha(url[i]) || (url[i] >= u'0' && url[i] <= u'9') || url[i] == u'+' || url[i] == u'-' ||
                   url[i] == u'.'))
    ++i;
  return i + 2 < n && url[i] == u':' && url[i + 1] == u'/' && url[i + 2] == u'/';
}

// The longest reply read into text.
constexpr size_t kMaxTextReply = 16 << 20;

bool IsRedirect(int status) { return status == 301 || status == 302 || status == 303 || status == 307; }

// A Location header holds bytes (each read as one unit): blanks, controls
// and bytes above 0x7F are percent-encoded from those bytes, so a UTF-8
// "/caf\xc3\xa9.xml" is asked for as "/caf%C3%A9.xml".
CString EncodeLocation(const CString& location) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  CString out;
  for (int i = 0; i < location.GetLength(); ++i) {
    unsigned c = location[i] & 0xFF;
    if (c <= 0x20 || c >= 0x7F) {
      out += u'%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += char16_t(c);
    }
  }
  return out;
}

}  // namespace

CDownloader::CDownloader() : m_connection(12000) { VLog(u"CDownloader::CDownloader()"); }

CDownloader::~CDownloader() {
  VLog(u"CDownloader::~CDownloader()");
  ClearHeaders();
  m_cookies.clear();
}

void CDownloader::ResetRequest() {
  m_strETag.Empty();
  m_strLastModified.Empty();
  m_strCharset.Empty();
  m_cookies.clear();
}

void CDownloader::AddCookie(const CString& cookie) { m_cookies.push_back(cookie); }

void CDownloader::AddHeader(const CString& name, const CString& value) { m_extraHeaders.emplace_back(name, value); }

void CDownloader::ClearHeaders() { m_extraHeaders.clear(); }

void CDownloader::SetProxy(const CString& proxy) {
  m_strProxy = proxy;
  ParseProxy();
}

void CDownloader::ParseProxy() {
  if (m_strProxy.IsEmpty()) {
    m_connection.SetProxy(nullptr);
    return;
  }
  CProxySettings proxy;
  proxy.m_nKind = PROXY_HTTP;
  int colon = m_strProxy.Find(u':');
  if (colon > 0) {
    proxy.m_strHost = m_strProxy.Left(colon);
    proxy.m_nPort = _wtoi(m_strProxy.Mid(colon + 1));
  }
  proxy.m_bAuthenticate = 0;
  m_connection.SetProxy(&proxy);
}

void CDownloader::SetProxySettings(const CProxySettings* proxy) {
  m_strProxy.Empty();
  if (proxy) m_strProxy.Format(u"%s:%d", proxy->m_strHost.GetString(), proxy->m_nPort);
  m_connection.SetProxy(proxy);
}

void CDownloader::SetCredentials(const CString& user, const CString& password) {
  m_strUser = user;
  m_strPassword = password;
  m_bCredentials = TRUE;
}

void CDownloader::ClearCredentials() {
  m_strUser.Empty();
  m_strPassword.Empty();
  m_bCredentials = FALSE;
}

void CDownloader::Terminate() {
  VLog(u"CDownloader::Terminate()");
  m_connection.Terminate();
}

BOOL CDownloader::GetConnectionState() { return m_connection.GetConnectionState(); }

void CDownloader::OnBeginRequest(int) {}
BOOL CDownloader::OnBeforeBody(int) { return TRUE; }
void CDownloader::OnComplete(int) {}

BOOL CDownloader::OnAuthentication(int) {
  VLog(u"CDownloader::OnAuthentication()");
  if (!m_bCredentials) return FALSE;
  m_nState = DLS_AUTHENTICATING;
  return TRUE;
}

void CDownloader::AddConditionalHeaders(CHttpRequest* request, int) {
  if (!m_strETag.IsEmpty()) request->AddHeader(u"If-None-Match", m_strETag);
  if (!m_strLastModified.IsEmpty()) request->AddHeader(u"If-Modified-Since", m_strLastModified);
}

void CDownloader::SaveHeaders(CHttpResponse* response) {
  VLog(u"CDownloader::SaveHeaders()");
  CString type;
  response->GetHeader(u"Content-Type", type);
  type.MakeLower();
  m_strCharset.Empty();
  int cs = type.Find(u"charset=");
  if (cs >= 0) {
    CString rest = type.Mid(cs + 8);
    int semi = rest.Find(u';');
    m_strCharset = semi >= 0 ? rest.Left(semi) : rest;
  }
  int semi = type.Find(u';');
  m_strMediaType = semi >= 0 ? type.Left(semi) : type;
}

BOOL CDownloader::SaveHttpObject(CString& url, const CString& path, int context) {
  VLog(u"CDownloader::SaveHttpObject('%s')", url.GetString());
  return Transfer(url, path, HTTP_METHOD_GET, nullptr, context);
}

BOOL CDownloader::Transfer(CString& url, const CString& path, int method, const CString* body, int context) {
  m_nLastError = DL_OK;
  m_nLastStatus = 0;
  m_strCurrentUrl = url;
  VLog(u"ReplaceHTMLEntities('%s')", url.GetString());
  ReplaceHTMLEntities(url);
  OnBeginRequest(context);

  CString host, target;
  int kind;
  WORD port;
  if (!CrackUrl(url, kind, host, target, port) || (kind != SERVICE_HTTP && kind != SERVICE_HTTPS)) {
    VLog(u"Cannot crack URL '%s'", url.GetString());
    m_nLastError = DL_BAD_URL;
    return FALSE;
  }
  // The fragment names a place in the document; it is never sent.
  int hash = target.Find(u'#');
  if (hash >= 0) target.Truncate(hash);
  m_nKind = kind;
  m_strHost = host;
  m_nPort = port;

  m_nState = DLS_CONNECTING;
  if (!m_connection.Open(kind, host, port)) {
    if (method == HTTP_METHOD_GET) VLog(u"Fail to open HTTP connection");
    m_nLastError = DL_NO_CONNECTION;
    return FALSE;
  }
  CHttpRequest* request = m_connection.CreateRequest(target, method);
  if (!request) {
    m_nLastError = DL_NO_REQUEST;
    m_connection.Close();
    return FALSE;
  }
  m_nState = DLS_REQUEST_BUILT;
  if (method == HTTP_METHOD_POST && body) {
    request->m_strBody = *body;
    request->AddHeader(u"Content-Type", u"application/x-www-form-urlencoded");
    // The length of the body as sent: its bytes, not its characters.
    request->AddHeader(u"Content-Length", int(WireBytes(*body).size()));
  }
  request->AddHeaders(m_extraHeaders);
  request->AddCookies(m_cookies);
  AddConditionalHeaders(request, context);

  m_connection.SendRequest(request);
  m_nState = DLS_WAITING;
  CHttpResponse* response = m_connection.ReceiveResponse();
  if (!response) {
    m_nLastError = DL_NO_RESPONSE;
  } else if (OnResponse(request, response, context) && OnBeforeBody(context)) {
    m_nState = DLS_RECEIVING;
    if (m_connection.GetFile(response, path)) {
      OnComplete(context);
    } else {
      m_nLastError = m_connection.GetSavedError() == ERROR_DISK_FULL ? DL_DISK_FULL : DL_STORE_FAILED;
    }
  }
  delete response;
  delete request;
  m_connection.Close();
  return m_nLastError == DL_OK;
}

BOOL CDownloader::OnResponse(CHttpRequest*& request, CHttpResponse*& response, int context) {
  VLog(u"CDownloader::OnResponse()");
  m_bModified = FALSE;
  int redirects = 0;
  for (;;) {
    int status = response->m_nStatusCode;
    m_nLastStatus = status;
    VLog(u"StatusCode: %d", status);
    if (status == 200 || status == 206) {
      SaveHeaders(response);
      CString value;
      if (response->GetHeader(u"ETag", value)) m_strETag = value;
      if (response->GetHeader(u"Last-Modified", value)) m_strLastModified = value;
      m_bModified = TRUE;
      return TRUE;
    }
    if (IsRedirect(status)) {
      if (++redirects >= 6) {
        // Too long a chain: report the last redirect status, store nothing.
        VLog(u"Too many redirects");
        m_nLastError = DL_UNEXPECTED_STATUS;
        return FALSE;
      }
      CString location;
      if (!response->GetHeader(u"Location", location) || location.IsEmpty()) {
        m_nLastError = DL_NO_LOCATION;
        return FALSE;
      }
      location = EncodeLocation(location);
      if (location.Left(2) == CString(u"//")) location = (m_nKind == SERVICE_HTTPS ? u"https:" : u"http:") + location;
      CString host, path;
      int kind;
      WORD port;
      bool cracked = CrackUrl(location, kind, host, path, port);
      if (!cracked && HasScheme(location)) {
        // An absolute URL that cannot be cracked (too long, a bad port) is
        // no path on this server: asking this server for it would store
        // whatever it answers as the document.
        VLog(u"Redirect to a URL that cannot be cracked");
        m_nLastError = DL_BAD_URL;
        return FALSE;
      }
      if (cracked) {
        if (kind != SERVICE_HTTP && kind != SERVICE_HTTPS) {
          VLog(u"Redirect to an unsupported URL '%s'", location.GetString());
          m_nLastError = DL_BAD_URL;
          return FALSE;
        }
        m_strCurrentUrl = location;
      } else {
        kind = m_nKind;
        host = m_strHost;
        port = m_nPort;
        if (location[0] == u'/') {
          path = location;
        } else if (location[0] == u'?') {
          CString current = request->m_strPath;
          int q = current.Find(u'?');
          path = (q >= 0 ? current.Left(q) : current) + location;
        } else {
          // Relative to the folder of the current path.
          CString folder = GetUrlFolder(request->m_strPath);
          path = folder.IsEmpty() ? CString(u"/") + location : folder + location;
        }
        bool defaultPort = (kind == SERVICE_HTTPS && port == 443) || (kind != SERVICE_HTTPS && port == 80);
        CString authority = host;
        if (!defaultPort) authority.AppendFormat(u":%d", int(port));
        m_strCurrentUrl.Format(kind == SERVICE_HTTPS ? u"https://%s%s" : u"http://%s%s", authority.GetString(),
                               path.GetString());
        // Canonical form of the combined path (dot segments, unsafe characters).
        CString h2, p2;
        int k2;
        WORD port2;
        if (CrackUrl(m_strCurrentUrl, k2, h2, p2, port2)) path = p2;
      }
      int hash = path.Find(u'#');
      if (hash >= 0) path.Truncate(hash);
      m_nKind = kind;
      m_strHost = host;
      m_nPort = port;
      delete response;
      response = nullptr;
      delete request;
      request = nullptr;
      m_connection.Close();
      if (!m_connection.Open(kind, host, port)) {
        m_nLastError = DL_NO_CONNECTION;
        return FALSE;
      }
      request = m_connection.CreateRequest(path, HTTP_METHOD_GET);
      if (!request) {
        m_nLastError = DL_NO_REQUEST;
        return FALSE;
      }
      request->AddHeaders(m_extraHeaders);
      m_connection.SendRequest(request);
      response = m_connection.ReceiveResponse();
      if (!response) {
        m_nLastError = DL_NO_RESPONSE;
        return FALSE;
      }
      continue;
    }
    if (status == 304) {
      VLog(u"- NOT updated");
      m_bModified = FALSE;
      return FALSE;
    }
    if (status == 401) return WWWAuthentication(request, response, context);
    m_nLastError = DL_UNEXPECTED_STATUS;
    return FALSE;
  }
}

BOOL CDownloader::ReadTempFile(CString& text) {
  FILE* f = _wfopen(DOWNLOADER_TEMP_FILE, u"rb");
  if (!f) return FALSE;
  std::string bytes;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
    bytes.append(buf, n);
    if (bytes.size() > kMaxTextReply) {
      // The replies read as text (a login answer, a token) are a few
      // lines: one that runs on is not taken into memory.
      VLog(u"Reply longer than %u bytes refused", unsigned(kMaxTextReply));
      fclose(f);
      return FALSE;
    }
  }
  fclose(f);
  text = TextOfBytes(bytes);
  return TRUE;
}

BOOL CDownloader::DownloadToString(CString& url, CString& text, int context) {
  BOOL ok = SaveHttpObject(url, DOWNLOADER_TEMP_FILE, context);
  if (ok && m_bModified) {
    ok = ReadTempFile(text);
    if (!ok) m_nLastError = DL_STORE_FAILED;
  }
  DeleteFileW(DOWNLOADER_TEMP_FILE);
  return ok;
}

BOOL CDownloader::Post(CString& url, const CString& body, CString& reply, int context) {
  VLog(u"CDownloader::Post('%s')", url.GetString());
  BOOL ok = Transfer(url, DOWNLOADER_TEMP_FILE, HTTP_METHOD_POST, &body, context);
  if (ok && m_bModified) ReadTempFile(reply);
  DeleteFileW(DOWNLOADER_TEMP_FILE);
  return ok;
}

// Authentication.

BOOL CDownloader::WWWAuthentication(CHttpRequest* request, CHttpResponse*& response, int context) {
  VLog(u"CDownloader::WWWAuthentication()");
  return AnswerChallenge(u"WWW-Authenticate", u"Authorization", request, response, context);
}

BOOL CDownloader::ProxyAuthentication(CHttpRequest* request, CHttpResponse*& response, int context) {
  VLog(u"CDownloader::ProxyAuthentication()");
  return AnswerChallenge(u"Proxy-Authenticate", u"Proxy-Authorization", request, response, context);
}

// Answers the challenge in the response's challengeHeader with an
// authorizationHeader on the repeated request.
BOOL CDownloader::AnswerChallenge(LPCWSTR challengeHeader, LPCWSTR authorizationHeader, CHttpRequest* request,
                                  CHttpResponse*& response, int context) {
  CString challenge;
  if (!response->GetHeader(challengeHeader, challenge)) {
    m_nLastError = DL_BAD_CHALLENGE;
    return FALSE;
  }
  m_strAuthHeader = authorizationHeader;
  return DoAuthentication(challenge, request, response, context);
}

BOOL CDownloader::DoAuthentication(const CString& challenge, CHttpRequest* request, CHttpResponse*& response,
                                   int context) {
  VLog(u"CDownloader::DoAuthentication()");
  m_nState = DLS_CHALLENGE;
  int blank = challenge.Find(u' ');
  if (blank < 0) {
    m_nLastError = DL_BAD_CHALLENGE;
    return FALSE;
  }
  CString scheme = challenge.Left(blank);
  // A challenge stands alone: parts that an earlier challenge named (an
  // algorithm, a qop, an opaque value) must not leak into this answer.
  m_strRealm.Empty();
  m_strDomain.Empty();
  m_strNonce.Empty();
  m_strOpaque.Empty();
  m_strStale.Empty();
  m_strAlgorithm.Empty();
  m_strQop.Empty();
  const int n = challenge.GetLength();
  int i = blank;
  while (i < n) {
    int eq = challenge.Find(u'=', i);
    if (eq < 0) {
      CString rest = challenge.Mid(i);
      rest.Trim();
      if (rest.IsEmpty()) break;
      m_nLastError = DL_BAD_CHALLENGE;
      return FALSE;
    }
    CString name = challenge.Mid(i, eq - i);
    name.TrimLeft();
    int j = eq + 1;
    int comma;
    if (j < n && challenge[j] == u'"') {
      int close = challenge.Find(u'"', j + 1);
      if (close < 0) {
        m_nLastError = DL_BAD_CHALLENGE;
        return FALSE;
      }
      comma = challenge.Find(u',', close);
    } else {
      comma = challenge.Find(u',', j);
    }
    int end = comma < 0 ? n : comma;
    CString value = challenge.Mid(j, end - j);
    value.Trim();
    value.Trim(u'"');
    if (name == CString(u"realm")) m_strRealm = value;
    else if (name == CString(u"domain")) m_strDomain = value;
    else if (name == CString(u"nonce")) m_strNonce = value;
    else if (name == CString(u"opaque")) m_strOpaque = value;
    else if (name == CString(u"stale")) m_strStale = value;
    else if (name == CString(u"algorithm")) m_strAlgorithm = value;
    else if (name == CString(u"qop")) m_strQop = value;
    i = end + 1;
  }
  if (scheme.CompareNoCase(u"basic") == 0) return DoBasicAuthentication(request, response, context);
  if (scheme.CompareNoCase(u"digest") == 0) return DoDigestAuthentication(request, response, context);
  VLog(u"Unknown authentication scheme '%s'", scheme.GetString());
  m_nLastError = DL_UNKNOWN_SCHEME;
  return FALSE;
}

BOOL CDownloader::DoBasicAuthentication(CHttpRequest* request, CHttpResponse*& response, int context) {
  VLog(u"CDownloader::DoBasicAuthentication()");
  if (!PrepareRetry(response, context)) return FALSE;
  CString value = CString(u"Basic ") + Widen(Base64Encode(LowBytes(m_strUser) + ":" + LowBytes(m_strPassword)));
  return SendAuthorized(request, response, value);
}

BOOL CDownloader::DoDigestAuthentication(CHttpRequest* request, CHttpResponse*& response, int context) {
  VLog(u"CDownloader::DoDigestAuthentication()");
  if (!PrepareRetry(response, context)) return FALSE;
  CString value;
  PrepareAuthorizationHeader(1, request->GetWireTarget(), request->GetMethodText(), request->m_strBody, m_strUser,
                             m_strPassword, value);
  return SendAuthorized(request, response, value);
}

// Drops the refused exchange and asks for credentials; FALSE when there are
// none to answer with.
BOOL CDownloader::PrepareRetry(CHttpResponse*& response, int context) {
  m_connection.Close();
  delete response;
  response = nullptr;
  if (!OnAuthentication(context)) {
    m_nLastError = DL_NO_CREDENTIALS;
    return FALSE;
  }
  return TRUE;
}

// Sends the request again on a new connection with the authorization header;
// TRUE when the server accepts it (status 200).
BOOL CDownloader::SendAuthorized(CHttpRequest* request, CHttpResponse*& response, const CString& authorization) {
  request->AddHeader(m_strAuthHeader, authorization);
  if (!m_connection.Open(m_nKind, m_strHost, m_nPort)) {
    m_nLastError = DL_NO_CONNECTION;
    return FALSE;
  }
  m_connection.SendRequest(request);
  response = m_connection.ReceiveResponse();
  if (!response) {
    m_nLastError = DL_NO_RESPONSE;
    return FALSE;
  }
  m_nLastStatus = response->m_nStatusCode;
  if (response->m_nStatusCode != 200) {
    m_nLastError = DL_AUTH_REFUSED;
    return FALSE;
  }
  m_nState = DLS_AUTHENTICATING;
  SaveHeaders(response);
  m_bModified = TRUE;
  return TRUE;
}

CString CDownloader::ChooseQop(const CString& offered) {
  CString qop = offered;
  qop.Trim();
  if (qop.IsEmpty() || qop.Find(u',') < 0) return qop;
  int start = 0;
  CString last;
  for (;;) {
    int comma = qop.Find(u',', start);
    CString item = comma < 0 ? qop.Mid(start) : qop.Mid(start, comma - start);
    item.Trim();
    if (item.CompareNoCase(u"auth") == 0) return CString(u"auth");
    if (item.CompareNoCase(u"auth-int") == 0) return CString(u"auth-int");
    last = item;
    if (comma < 0) break;
    start = comma + 1;
  }
  return last;
}

std::string CDownloader::DigestCalcHA1(const std::string& algorithm, const std::string& user,
                                       const std::string& realm, const std::string& password,
                                       const std::string& nonce, const std::string& cnonce) {
  std::string ha1 = DigestToHex(Md5(user + ":" + realm + ":" + password));
  if (_wcsicmp(qk::FromUtf8(algorithm).c_str(), u"md5-sess") == 0) ha1 = DigestToHex(Md5(ha1 + ":" + nonce + ":" + cnonce));
  return ha1;
}

std::string CDownloader::DigestCalcResponse(const std::string& ha1, const std::string& nonce, const std::string& nc,
                                            const std::string& cnonce, const std::string& qop,
                                            const std::string& method, const std::string& uri,
                                            const std::string& entityHash) {
  std::string a2 = method + ":" + uri;
  if (qop == "auth-int") a2 += ":" + entityHash;
  std::string ha2 = DigestToHex(Md5(a2));
  if (!qop.empty()) return DigestToHex(Md5(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":" + qop + ":" + ha2));
  return DigestToHex(Md5(ha1 + ":" + nonce + ":" + ha2));
}

void CDownloader::PrepareAuthorizationHeader(int nonceCount, const CString& uri, const CString& method,
                                             const CString& body, const CString& user, const CString& password,
                                             CString& header) {
  VLog(u"CDownloader::PrepareAuthorizationHeader()");
  std::string qop = CStringA(ChooseQop(m_strQop)).str();
  char nc[16];
  snprintf(nc, sizeof nc, "%08d", nonceCount);
  std::string nonce = CStringA(m_strNonce).str();
  std::string ha1 = DigestCalcHA1(CStringA(m_strAlgorithm).str(), CStringA(user).str(), CStringA(m_strRealm).str(),
                                  CStringA(password).str(), nonce, DIGEST_CNONCE);
  std::string entityHash = qop == "auth-int" ? DigestToHex(Md5(CStringA(body).str())) : std::string();
  std::string response = DigestCalcResponse(ha1, nonce, nc, DIGEST_CNONCE, qop, CStringA(method).str(),
                                            CStringA(uri).str(), entityHash);
  header.Format(u"Digest username=\"%s\", realm=\"%s\", nonce=\"%s\", uri=\"%s\", response=\"%S\"", user.GetString(),
                m_strRealm.GetString(), m_strNonce.GetString(), uri.GetString(), response.c_str());
  if (!m_strOpaque.IsEmpty()) header.AppendFormat(u", opaque=\"%s\"", m_strOpaque.GetString());
  if (!qop.empty()) header.AppendFormat(u", qop=%S, cnonce=\"%S\", nc=%S", qop.c_str(), DIGEST_CNONCE, nc);
}
