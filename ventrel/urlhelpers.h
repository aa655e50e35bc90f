// URL helpers of the HTTP client: cracking a URL into what a connection
// needs, percent-encoding a form value, and the absolute, offline and
// local-file forms of a URL.
#pragma once

#include "framework/afx.h"

// Service kinds of a URL.
enum {
  SERVICE_UNKNOWN = 0,
  SERVICE_FTP = 1,  // ftp and gopher
  SERVICE_HTTP = 2,
  SERVICE_HTTPS = 3,
  SERVICE_FILE = 4,
  SERVICE_NEWS = 5,
  SERVICE_MAILTO = 6
};

// Canonicalises and cracks a URL; the path keeps its query. kind is 0 when
// cracking fails.
BOOL CrackUrl(const CString& url, int& kind, CString& host, CString& path, WORD& port);

// Percent-encodes every unit but letters, digits, "'", "(", ")", "*", "-",
// ".", "_", 127 and units above 255, as "%XX" with upper-case digits.
CString UrlEncode(const CString& text);
CString MakeAbsoluteUrl(const CString& url, const CString& host, const CString& folder);
// The host name that offline URLs use for the local device.
#define OFFLINE_URL_HOST u"localhost"
CString MakeOfflineUrl(const CString& folder, const CString& fileName);
CString MakeOfflineUrl(const CString& path);
CString LowerCaseUrlHost(const CString& url);
CString GetUrlFolder(const CString& url);
CString GetUrlFileName(const CString& url);
CString UrlToFileName(const CString& url, BOOL htmlExtension);
