// URL helpers.
#include "ventrel/urlhelpers.h"

#include <vector>

#include "net/urlfuncs.h"
#include "ventrel/vlog.h"

BOOL CrackUrl(const CString& url, int& kind, CString& host, CString& path, WORD& port) {
  kind = SERVICE_UNKNOWN;
  host.Empty();
  path.Empty();
  port = 0;
  const DWORD kBuf = INTERNET_MAX_URL_LENGTH;
  std::vector<WCHAR> canonical(kBuf + 1);
  DWORD length = kBuf;
  if (!InternetCanonicalizeUrlW(url, canonical.data(), &length, ICU_BROWSER_MODE)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return FALSE;
    canonical.assign(length + 1, 0);
    if (!InternetCanonicalizeUrlW(url, canonical.data(), &length, ICU_BROWSER_MODE)) return FALSE;
  }
  std::vector<WCHAR> hostBuf(kBuf + 1), pathBuf(kBuf + 1);
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = hostBuf.data();
  parts.dwHostNameLength = kBuf + 1;
  parts.lpszUrlPath = pathBuf.data();
  parts.dwUrlPathLength = kBuf + 1;
  if (!InternetCrackUrlW(canonical.data(), 0, 0, &parts)) return FALSE;
  switch (parts.nScheme) {
    case INTERNET_SCHEME_FTP:
    case INTERNET_SCHEME_GOPHER: kind = SERVICE_FTP; break;
    case INTERNET_SCHEME_HTTP: kind = SERVICE_HTTP; break;
    case INTERNET_SCHEME_HTTPS: kind = SERVICE_HTTPS; break;
    case INTERNET_SCHEME_FILE: kind = SERVICE_FILE; break;
    case INTERNET_SCHEME_NEWS: kind = SERVICE_NEWS; break;
    case INTERNET_SCHEME_MAILTO: kind = SERVICE_MAILTO; break;
    default: kind = SERVICE_UNKNOWN; break;
  }
  host = hostBuf.data();
  path = pathBuf.data();
  port = parts.nPort;
  return TRUE;
}

CString UrlEncode(const CString& text) {
  CString out;
  for (int i = 0; i < text.GetLength(); ++i) {
    WCHAR c = text[i];
    bool escape = c <= 38 || c == 43 || c == 44 || c == 47 || (c >= 58 && c <= 64) || (c >= 91 && c <= 94) ||
                  c == 96 || (c >= 123 && c <= 126) || (c >= 128 && c <= 255);
    if (escape) {
      out.AppendFormat(u"%%%02X", unsigned(c));
    } else {
      out += c;
    }
  }
  return out;
}

CString MakeAbsoluteUrl(const CString& url, const CString& host, const CString& folder) {
  VLog(u"MakeAbsoluteUrl('%s')", url.GetString());
  if (_wcsnicmp(url, u"http://", 7) == 0 || _wcsnicmp(url, u"https://", 8) == 0 ||
      _wcsnicmp(url, u"file://", 7) == 0)
    return url;
  CString out;
  if (url.GetLength() > 0 && url[0] == u'/') {
    out.Format(u"http://%s%s", host.GetString(), url.GetString());
  } else {
    out.Format(u"http://%s%s%s", host.GetString(), folder.GetString(), url.GetString());
  }
  return out;
}

CString MakeOfflineUrl(const CString& folder, const CString& fileName) {
  VLog(u"MakeOfflineUrl()");
  CString out = CString(u"file://") + OFFLINE_URL_HOST + folder + u"/" + fileName;
  out.Replace(u'\\', u'/');
  return out;
}

CString MakeOfflineUrl(const CString& path) {
  VLog(u"MakeOfflineUrl()");
  CString out = CString(u"file://") + OFFLINE_URL_HOST + path;
  out.Replace(u'\\', u'/');
  return out;
}

CString LowerCaseUrlHost(const CString& url) {
  int sep = url.Find(u"://");
  if (sep < 0) return url;
  int hostStart = sep + 3;
  int hostEnd = url.Find(u'/', hostStart);
  if (hostEnd < 0) hostEnd = url.GetLength();
  CString host = url.Mid(hostStart, hostEnd - hostStart);
  host.MakeLower();
  return url.Left(hostStart) + host + url.Mid(hostEnd);
}

CString GetUrlFolder(const CString& url) {
  CString u = url;
  int q = u.Find(u'?');
  if (q >= 0) u.Truncate(q);
  int slash = u.ReverseFind(u'/');
  return slash < 0 ? CString() : u.Left(slash + 1);
}

CString GetUrlFileName(const CString& url) {
  CString u = url;
  int q = u.Find(u'?');
  if (q >= 0) u.Truncate(q);
  int slash = u.ReverseFind(u'/');
  return slash < 0 ? u : u.Mid(slash + 1);
}

CString UrlToFileName(const CString& url, BOOL htmlExtension) {
  VLog(u"UrlToFileName('%s')", url.GetString());
  if (_wcsnicmp(url, u"file://", 7) == 0) {
    CString rest = url.Mid(7);
    rest.Replace(u'/', u'\\');
    return rest;
  }
  int kind;
  CString host, path;
  WORD port;
  CrackUrl(url, kind, host, path, port);
  int hash = path.ReverseFind(u'#');
  if (hash >= 0) path.Truncate(hash);
  CString folder = GetUrlFolder(path);
  CString name = path.Mid(folder.GetLength());
  CString query;
  int q = name.ReverseFind(u'?');
  if (q >= 0) {
    query = name.Mid(q);
    name.Truncate(q);
  }
  CString ext;
  int dot = name.ReverseFind(u'.');
  if (dot >= 0) {
    ext = name.Mid(dot);
    name.Truncate(dot);
  }
  if (name.IsEmpty()) {
    name = u"index";
    ext = u".html";
  }
  if (htmlExtension && ext.CompareNoCase(u".html") != 0 && ext.CompareNoCase(u".htm") != 0) ext = u".html";
  query.Replace(u'?', u'_');
  query.Replace(u',', u'_');
  query.Remove(u'/');
  query.Remove(u'\\');
  folder.Replace(u'/', u'\\');
  CString out;
  out.Format(u"%s%s%s%s%s", host.GetString(), folder.GetString(), name.GetString(), query.GetString(),
             ext.GetString());
  for (WCHAR c : {u'&', u'=', u'%', u'\'', u'"', u';', u':'}) out.Remove(c);
  if (out.GetLength() > 250) out.Truncate(250);
  return out;
}
