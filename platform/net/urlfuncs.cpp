// URL canonicalisation and cracking.
#include "net/urlfuncs.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using U16 = std::u16string;

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool IsAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

struct SchemeInfo {
  const char16_t* name;
  INTERNET_SCHEME scheme;
  INTERNET_PORT port;
  bool hierarchical;
};

const SchemeInfo kSchemes[] = {
    {u"ftp", INTERNET_SCHEME_FTP, INTERNET_DEFAULT_FTP_PORT, true},
    {u"gopher", INTERNET_SCHEME_GOPHER, INTERNET_DEFAULT_GOPHER_PORT, true},
    {u"http", INTERNET_SCHEME_HTTP, INTERNET_DEFAULT_HTTP_PORT, true},
    {u"https", INTERNET_SCHEME_HTTPS, INTERNET_DEFAULT_HTTPS_PORT, true},
    {u"file", INTERNET_SCHEME_FILE, 0, true},
    {u"news", INTERNET_SCHEME_NEWS, 0, false},
    {u"mailto", INTERNET_SCHEME_MAILTO, 0, false},
    {u"socks", INTERNET_SCHEME_SOCKS, INTERNET_DEFAULT_SOCKS_PORT, true},
};

const SchemeInfo* FindScheme(const U16& lowerName) {
  for (const SchemeInfo& s : kSchemes) {
    if (lowerName == s.name) return &s;
  }
  return nullptr;
}

// Length of the scheme before ":" (letters, digits, "+", "-", "."; a letter
// first), or 0 when the text does not start with a scheme.
size_t SchemeLength(const U16& url) {
  if (url.empty() || !IsAlpha(url[0])) return 0;
  size_t i = 1;
  while (i < url.size() && (IsAlpha(url[i]) || IsDigit(url[i]) || url[i] == u'+' || url[i] == u'-' || url[i] == u'.'))
    ++i;
  if (i >= url.size() || url[i] != u':' || i > INTERNET_MAX_SCHEME_LENGTH) return 0;
  return i;
}

bool IsUnsafe(char16_t c, bool spacesOnly) {
  if (spacesOnly) return c == u' ';
  if (c <= 0x20 || c >= 0x7f) return true;
  switch (c) {
    case u'"': case u'<': case u'>': case u'\\': case u'^': case u'`': case u'{': case u'|': case u'}':
      return true;
    default:
      return false;
  }
}

void AppendEscaped(U16& out, unsigned value) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  out += u'%';
  out += kHex[(value >> 4) & 0xf];
  out += kHex[value & 0xf];
}

// Escapes one UTF-16 unit (or a surrogate pair) as UTF-8 percent escapes.
size_t EscapeAt(const U16& in, size_t i, U16& out) {
  uint32_t cp = in[i];
  size_t used = 1;
  if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
    cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
    used = 2;
  }
  unsigned char b[4];
  int n;
  if (cp < 0x80) {
    b[0] = static_cast<unsigned char>(cp);
    n = 1;
  } else if (cp < 0x800) {
    b[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
    b[1] = static_cast<unsigned char>(0x80 | (cp & 0x3f));
    n = 2;
  } else if (cp < 0x10000) {
    b[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
    b[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3f));
    b[2] = static_cast<unsigned char>(0x80 | (cp & 0x3f));
    n = 3;
  } else {
    b[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    b[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3f));
    b[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3f));
    b[3] = static_cast<unsigned char>(0x80 | (cp & 0x3f));
    n = 4;
  }
  for (int k = 0; k < n; ++k) AppendEscaped(out, b[k]);
  return used;
}

// RFC 3986 removal of dot segments from an absolute path.
U16 RemoveDotSegments(const U16& path) {
  std::vector<U16> segs;
  size_t i = 1;  // path starts with "/"
  bool trailingSlash = false;
  while (i <= path.size()) {
    size_t j = path.find(u'/', i);
    if (j == U16::npos) j = path.size();
    U16 seg = path.substr(i, j - i);
    bool last = j >= path.size();
    if (seg == u".") {
      trailingSlash = last;
    } else if (seg == u"..") {
      if (!segs.empty()) segs.pop_back();
      trailingSlash = last;
    } else {
      segs.push_back(seg);
      trailingSlash = false;
    }
    i = j + 1;
  }
  U16 out;
  for (const U16& s : segs) {
    out += u'/';
    out += s;
  }
  if (trailingSlash || out.empty()) out += u'/';
  return out;
}

bool Fail(DWORD error) {
  SetLastError(error);
  return false;
}

}  // namespace

BOOL InternetCanonicalizeUrlW(LPCWSTR url, LPWSTR buffer, LPDWORD length, DWORD flags) {
  if (!url || !length) return Fail(ERROR_INVALID_PARAMETER);
  U16 in(url);
  // Leading and trailing blanks and controls are not part of a URL.
  size_t b = 0, e = in.size();
  while (b < e && in[b] <= 0x20) ++b;
  while (e > b && in[e - 1] <= 0x20) --e;
  in = in.substr(b, e - b);

  size_t schemeLen = SchemeLength(in);
  if (schemeLen == 0) return Fail(ERROR_INTERNET_INVALID_URL);
  U16 scheme;
  for (size_t i = 0; i < schemeLen; ++i) scheme += Lower(in[i]);
  const SchemeInfo* info = FindScheme(scheme);

  U16 out;
  bool noEncode = (flags & ICU_NO_ENCODE) != 0;
  bool spacesOnly = (flags & ICU_ENCODE_SPACES_ONLY) != 0;
  if (!info || !info->hierarchical) {
    out = scheme + in.substr(schemeLen);
  } else {
    size_t pos = schemeLen + 1;
    if (in.compare(pos, 2, u"//") != 0) return Fail(ERROR_INTERNET_INVALID_URL);
    pos += 2;
    size_t authEnd = in.find_first_of(u"/?#", pos);
    if (authEnd == U16::npos) authEnd = in.size();
    U16 authority = in.substr(pos, authEnd - pos);
    // Lower-case the host, not the user information.
    size_t at = authority.rfind(u'@');
    size_t hostStart = at == U16::npos ? 0 : at + 1;
    for (size_t i = hostStart; i < authority.size(); ++i) authority[i] = Lower(authority[i]);

    size_t pathEnd = in.find_first_of(u"?#", authEnd);
    if (pathEnd == U16::npos) pathEnd = in.size();
    U16 path = in.substr(authEnd, pathEnd - authEnd);
    if (path.empty()) path = u"/";
    if (!(flags & ICU_NO_META)) path = RemoveDotSegments(path);
    U16 rest = in.substr(pathEnd);

    out = scheme + u"://" + authority;
    auto escapeInto = [&](const U16& part) {
      for (size_t i = 0; i < part.size();) {
        if (!noEncode && IsUnsafe(part[i], spacesOnly)) {
          i += EscapeAt(part, i, out);
        } else {
          out += part[i++];
        }
      }
    };
    escapeInto(path);
    if (flags & ICU_BROWSER_MODE) {
      out += rest;
    } else {
      size_t hash = rest.find(u'#');
      escapeInto(rest.substr(0, hash));
      if (hash != U16::npos) out += rest.substr(hash);
    }
  }

  DWORD needed = static_cast<DWORD>(out.size() + 1);
  if (!buffer || *length < needed) {
    *length = needed;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, out.c_str(), needed * sizeof(char16_t));
  *length = needed - 1;
  return TRUE;
}

namespace {

// Fills one component as the caller asked for it.
bool Give(const char16_t* base, size_t start, size_t len, LPWSTR& ptr, DWORD& size) {
  if (ptr == nullptr) {
    if (size != 0) {
      ptr = const_cast<LPWSTR>(base + start);
      size = static_cast<DWORD>(len);
    }
    return true;
  }
  if (size == 0) return true;
  if (size <= len) {
    size = static_cast<DWORD>(len + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(ptr, base + start, len * sizeof(char16_t));
  ptr[len] = 0;
  size = static_cast<DWORD>(len);
  return true;
}

}  // namespace

BOOL InternetCrackUrlW(LPCWSTR url, DWORD urlLength, DWORD flags, LPURL_COMPONENTSW c) {
  (void)flags;
  if (!url || !c || c->dwStructSize < sizeof(URL_COMPONENTSW)) return Fail(ERROR_INVALID_PARAMETER);
  size_t n = urlLength ? urlLength : std::char_traits<char16_t>::length(url);
  U16 in(url, n);
  size_t schemeLen = SchemeLength(in);
  if (schemeLen == 0) return Fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
  U16 scheme;
  for (size_t i = 0; i < schemeLen; ++i) scheme += Lower(in[i]);
  const SchemeInfo* info = FindScheme(scheme);
  c->nScheme = info ? info->scheme : INTERNET_SCHEME_UNKNOWN;
  if (!Give(url, 0, schemeLen, c->lpszScheme, c->dwSchemeLength)) return FALSE;

  size_t pos = schemeLen + 1;
  size_t userStart = pos, userLen = 0, passStart = pos, passLen = 0, hostStart = pos, hostLen = 0;
  INTERNET_PORT port = info ? info->port : 0;
  bool hierarchical = in.compare(pos, 2, u"//") == 0;
  if (hierarchical) {
    pos += 2;
    size_t authEnd = in.find_first_of(u"/?#", pos);
    if (authEnd == U16::npos) authEnd = in.size();
    size_t at = in.rfind(u'@', authEnd == 0 ? 0 : authEnd - 1);
    hostStart = pos;
    if (at != U16::npos && at >= pos) {
      size_t colon = in.find(u':', pos);
      userStart = pos;
      if (colon != U16::npos && colon < at) {
        userLen = colon - pos;
        passStart = colon + 1;
        passLen = at - colon - 1;
      } else {
        userLen = at - pos;
      }
      hostStart = at + 1;
    }
    size_t hostEnd = authEnd;
    if (hostStart < authEnd && in[hostStart] == u'[') {
      size_t close = in.find(u']', hostStart);
      if (close == U16::npos || close >= authEnd) return Fail(ERROR_INTERNET_INVALID_URL);
      size_t after = close + 1;
      hostLen = close - hostStart - 1;
      hostStart += 1;
      if (after < authEnd && in[after] != u':') return Fail(ERROR_INTERNET_INVALID_URL);
      hostEnd = after;
    } else {
      size_t colon = in.find(u':', hostStart);
      if (colon != U16::npos && colon < authEnd) hostEnd = colon;
      hostLen = hostEnd - hostStart;
    }
    if (hostEnd < authEnd && in[hostEnd] == u':') {
      size_t p = hostEnd + 1;
      if (p == authEnd) return Fail(ERROR_INTERNET_INVALID_URL);
      uint32_t value = 0;
      for (; p < authEnd; ++p) {
        if (!IsDigit(in[p])) return Fail(ERROR_INTERNET_INVALID_URL);
        value = value * 10 + (in[p] - u'0');
        if (value > INTERNET_MAX_PORT_NUMBER_VALUE) return Fail(ERROR_INTERNET_INVALID_URL);
      }
      port = static_cast<INTERNET_PORT>(value);
    }
    bool needsHost = c->nScheme == INTERNET_SCHEME_HTTP || c->nScheme == INTERNET_SCHEME_HTTPS ||
                     c->nScheme == INTERNET_SCHEME_FTP || c->nScheme == INTERNET_SCHEME_GOPHER;
    if (needsHost && hostLen == 0) return Fail(ERROR_INTERNET_INVALID_URL);
    pos = authEnd;
  }
  size_t extraStart = in.find_first_of(u"?#", pos);
  if (extraStart == U16::npos) extraStart = in.size();
  bool wantExtra = c->lpszExtraInfo != nullptr || c->dwExtraInfoLength != 0;
  size_t pathEnd = wantExtra ? extraStart : in.size();

  if (!Give(url, hostStart, hostLen, c->lpszHostName, c->dwHostNameLength)) return FALSE;
  if (!Give(url, userStart, userLen, c->lpszUserName, c->dwUserNameLength)) return FALSE;
  if (!Give(url, passStart, passLen, c->lpszPassword, c->dwPasswordLength)) return FALSE;
  if (!Give(url, pos, pathEnd - pos, c->lpszUrlPath, c->dwUrlPathLength)) return FALSE;
  if (wantExtra && !Give(url, extraStart, in.size() - extraStart, c->lpszExtraInfo, c->dwExtraInfoLength))
    return FALSE;
  c->nPort = port;
  return TRUE;
}
