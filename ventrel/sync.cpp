// The sync-service client.
#include "ventrel/sync.h"

#include "ventrel/digests.h"
#include "ventrel/downloader.h"
#include "ventrel/urlhelpers.h"
#include "ventrel/vlog.h"

namespace {

#define SYNC_USER_AGENT u"Quillet Mobile"
#define TAG_READ u"user/-/state/com.google/read"
#define TAG_KEPT_UNREAD u"user/-/state/com.google/kept-unread"

class Section {
 public:
  explicit Section(CRITICAL_SECTION* cs) : cs_(cs) { EnterCriticalSection(cs_); }
  ~Section() { LeaveCriticalSection(cs_); }

 private:
  CRITICAL_SECTION* cs_;
};

}  // namespace

CVentrelSync::CVentrelSync(CDownloader* downloader, const CString& email, const CString& password,
                           const CString& serviceHost)
    : m_pDownloader(downloader), m_strEmail(email), m_strPassword(password), m_strServiceHost(serviceHost) {
  InitializeCriticalSection(&m_cs);
}

CVentrelSync::~CVentrelSync() { DeleteCriticalSection(&m_cs); }

CString CVentrelSync::ReaderBase() const { return CString(u"http://") + m_strServiceHost + u"/reader"; }
CString CVentrelSync::ApiBase() const { return ReaderBase() + u"/api/0"; }
CString CVentrelSync::LoginUrl() const { return CString(u"https://") + m_strServiceHost + u"/accounts/ClientLogin"; }

BOOL CVentrelSync::IsReady() { return TRUE; }

CString CVentrelSync::GetCookie() {
  CString cookie;
  cookie.Format(u"SID=%s", m_strSID.GetString());
  return cookie;
}

void CVentrelSync::PrepareAgent() { m_pDownloader->SetUserAgent(SYNC_USER_AGENT); }

void CVentrelSync::PrepareCookie() { m_pDownloader->AddCookie(GetCookie()); }

BOOL CVentrelSync::Authenticate() {
  VLog(u"CVentrelSync::Authenticate()");
  Section lock(&m_cs);
  m_strSID.Empty();
  // The caller hands the e-mail address and the password form-encoded: they
  // go into the body as they are. The request keeps the downloader's
  // User-Agent; a cookie left from an earlier login is not sent.
  m_pDownloader->ResetRequest();
  CString body;
  body.Format(u"Email=%s&Passwd=%s", m_strEmail.GetString(), m_strPassword.GetString());
  CString url = LoginUrl();
  CString reply;
  if (!m_pDownloader->Post(url, body, reply, 0)) return FALSE;
  // One "key=value" per line; the last line needs no line feed and a
  // carriage return before the line feed is not part of the value.
  int start = 0;
  while (start < reply.GetLength()) {
    int lf = reply.Find(u'\n', start);
    int end = lf < 0 ? reply.GetLength() : lf;
    CString line = reply.Mid(start, end - start);
    if (line.GetLength() > 0 && line[line.GetLength() - 1] == u'\r') line.Truncate(line.GetLength() - 1);
    int eq = line.Find(u'=');
    if (eq >= 0 && line.Left(eq) == CString(u"SID")) m_strSID = line.Mid(eq + 1);
    if (lf < 0) break;
    start = lf + 1;
  }
  if (m_strSID.IsEmpty()) {
    VLog(u"Login failed: no SID in the reply");
    return FALSE;
  }
  // The run log is readable by anyone on the device: it says that a session
  // was opened, never what its identifier is.
  VLog(u"Login succeeded: session opened");
  return TRUE;
}

BOOL CVentrelSync::GetToken() {
  VLog(u"CVentrelSync::GetToken()");
  Section lock(&m_cs);
  m_pDownloader->ResetRequest();
  PrepareCookie();
  m_strToken.Empty();
  CString url = ApiBase() + u"/token";
  CString token;
  if (!m_pDownloader->DownloadToString(url, token, 0)) return FALSE;
  // A line end after the token is not part of it: sent back inside the
  // form body it would make the token wrong.
  token.TrimRight(u"\r\n");
  m_strToken = token;
  return !m_strToken.IsEmpty();
}

BOOL CVentrelSync::GetSubscriptions(const CString& path) {
  VLog(u"CVentrelSync::GetSubscriptions()");
  Section lock(&m_cs);
  m_pDownloader->ResetRequest();
  // Without a session the list is not asked for: the service would only
  // refuse a request without one.
  if (m_strSID.IsEmpty() && !Authenticate()) {
    VLog(u"No session: the subscription list is not fetched");
    return FALSE;
  }
  CString url;
  url.Format(u"%s/subscription/list?output=xml", ApiBase().GetString());
  PrepareAgent();
  m_pDownloader->ResetRequest();
  PrepareCookie();
  return m_pDownloader->SaveHttpObject(url, path, 0);
}

BOOL CVentrelSync::DownloadFeed(CString& feedId, const CString& path, int count, BOOL retry) {
  VLog(u"CVentrelSync::DownloadFeed()");
  feedId.Replace(u"?", u"%3F");
  BOOL ok;
  {
    Section lock(&m_cs);
    m_pDownloader->ResetRequest();
    if (m_strSID.IsEmpty()) Authenticate();
    CString url;
    url.Format(u"%s/atom/feed/%s?n=%d", ReaderBase().GetString(), feedId.GetString(), count);
    PrepareAgent();
    m_pDownloader->ResetRequest();
    PrepareCookie();
    ok = m_pDownloader->SaveHttpObject(url, path, 0);
  }
  if (!ok && !retry && !m_pDownloader->IsCancelled()) {
    m_strSID.Empty();
    return DownloadFeed(feedId, path, count, TRUE);
  }
  return ok;
}

BOOL CVentrelSync::SyncItem(const CString& itemId, int read, BOOL retry) {
  VLog(u"CVentrelSync::SyncItem()");
  BOOL ok = FALSE;
  {
    Section lock(&m_cs);
    bool ready = true;
    if (m_strSID.IsEmpty() && !Authenticate()) ready = false;
    if (ready && m_strToken.IsEmpty()) ready = GetToken() != FALSE;
    if (ready) {
      // The cookie of this login, never one left from an earlier login.
      m_pDownloader->ResetRequest();
      PrepareAgent();
      PrepareCookie();
      CString url;
      url.Format(u"%s/edit-tag", ApiBase().GetString());
      CString body;
      body.Format(u"i=%s&a=%s&T=%s", itemId.GetString(), UrlEncode(read ? TAG_READ : TAG_KEPT_UNREAD).GetString(),
                  m_strToken.GetString());
      CString reply;
      ok = m_pDownloader->Post(url, body, reply, 0);
    }
  }
  if (!ok && !retry && !m_pDownloader->IsCancelled()) {
    // A new login brings a new token as well.
    m_strSID.Empty();
    m_strToken.Empty();
    return SyncItem(itemId, read, TRUE);
  }
  return ok;
}

BOOL CVentrelSync::GetReadingList(const CString& path) {
  VLog(u"CVentrelSync::GetSubscriptions()");
  Section lock(&m_cs);
  m_pDownloader->ResetRequest();
  if (m_strSID.IsEmpty()) Authenticate();
  long long since = qk::WallClockMs() / 1000 - 86400;
  CString url;
  url.Format(u"%s/atom/user/-/state/com.google/reading-list?xt=user/-/state/com.google/read&n=1000&r=o&ot=%lld",
             ReaderBase().GetString(), since);
  PrepareAgent();
  m_pDownloader->ResetRequest();
  PrepareCookie();
  return m_pDownloader->SaveHttpObject(url, path, 0);
}

BOOL CVentrelSync::DownloadFile(CString& url, const CString& path) {
  VLog(u"CVentrelSync::DownloadFile()");
  Section lock(&m_cs);
  m_pDownloader->ResetRequest();
  PrepareAgent();
  return m_pDownloader->SaveHttpObject(url, path, 0);
}

void CVentrelSync::Terminate() {
  VLog(u"CVentrelSync::Terminate()");
  m_pDownloader->Terminate();
}

const CString& CVentrelSync::ComputeHash(const CString& text) {
  VLog(u"CVentrelSync::ComputeHash()");
  std::string bytes;
  for (int i = 0; i < text.GetLength(); ++i) bytes += char(text[i] & 0xff);
  std::string digest = Sha1(bytes);
  static const char16_t kHex[] = u"0123456789abcdef";
  m_strHash.Empty();
  for (unsigned char c : digest) {
    m_strHash += kHex[c & 15];  // low nibble first, as the service's hashes are written
    m_strHash += kHex[c >> 4];
  }
  return m_strHash;
}
