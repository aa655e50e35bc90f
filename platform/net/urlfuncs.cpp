// URL canonicalisation and cracking.
#include "net/urlfuncs.h"

#include <arpa/inet.h>

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
size_t SchemeLength(std::u16string_view url) {
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

bool IsHex(char16_t c) { return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }

int HexValue(char16_t c) { return IsDigit(c) ? c - u'0' : (Lower(c) - u'a' + 10); }

// Blanks, C0 and C1 controls and DEL.
bool IsControl(char16_t c) { return c <= 0x20 || (c >= 0x7f && c <= 0x9f); }

bool IsUnreserved(char16_t c) {
  return IsAlpha(c) || IsDigit(c) || c == u'-' || c == u'.' || c == u'_' || c == u'~';
}

bool IsSubDelim(char16_t c) {
  switch (c) {
    case u'!': case u'$': case u'&': case u'\'': case u'(': case u')': case u'*': case u'+': case u',':
    case u';': case u'=':
      return true;
    default:
      return false;
  }
}

// A character a host name may hold as it stands (escapes aside).
bool IsNameChar(char16_t c) { return IsUnreserved(c) || IsSubDelim(c) || c > 0x9f; }

// "%XX" at i.
bool IsEscapeAt(std::u16string_view s, size_t i) {
  return i + 2 < s.size() && s[i] == u'%' && IsHex(s[i + 1]) && IsHex(s[i + 2]);
}

// A host name: name characters and escapes of them (an escaped byte above
// the ASCII range is part of a character beyond it).
bool IsHostName(std::u16string_view host) {
  for (size_t i = 0; i < host.size();) {
    if (host[i] == u'%') {
      if (!IsEscapeAt(host, i)) return false;
      int byte = HexValue(host[i + 1]) * 16 + HexValue(host[i + 2]);
      if (byte < 0x80 && !IsNameChar(static_cast<char16_t>(byte))) return false;
      i += 3;
      continue;
    }
    if (!IsNameChar(host[i])) return false;
    ++i;
  }
  return true;
}

// An IPv6 address, with an optional zone "%25<name>" after it.
bool IsIpv6Literal(std::u16string_view host) {
  size_t zone = host.find(u'%');
  std::u16string_view address = host.substr(0, zone);
  if (address.empty() || address.size() > 45) return false;
  char ascii[46];
  for (size_t i = 0; i < address.size(); ++i) {
    char16_t c = address[i];
    if (!(IsHex(c) || c == u':' || c == u'.')) return false;
    ascii[i] = static_cast<char>(c);
  }
  ascii[address.size()] = 0;
  unsigned char bytes[16];
  if (inet_pton(AF_INET6, ascii, bytes) != 1) return false;
  if (zone == std::u16string_view::npos) return true;
  std::u16string_view name = host.substr(zone);
  if (name.size() <= 3 || name.substr(0, 3) != u"%25") return false;
  for (size_t i = 3; i < name.size();) {
    if (name[i] == u'%') {
      if (!IsEscapeAt(name, i)) return false;
      i += 3;
    } else if (IsUnreserved(name[i])) {
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

// User information: printable, no brackets or backslash, escapes whole.
bool IsUserInfo(std::u16string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (IsControl(c) || c == u'[' || c == u']' || c == u'\\') return false;
    if (c == u'%' && !IsEscapeAt(s, i)) return false;
  }
  return true;
}

bool NeedsHost(INTERNET_SCHEME scheme) {
  return scheme == INTERNET_SCHEME_HTTP || scheme == INTERNET_SCHEME_HTTPS || scheme == INTERNET_SCHEME_FTP ||
         scheme == INTERNET_SCHEME_GOPHER;
}

}  // namespace

bool ParseInternetAddress(std::u16string_view in, InternetAddress& a) {
  a = InternetAddress();
  size_t schemeLen = SchemeLength(in);
  if (schemeLen == 0) return false;
  a.scheme = in.substr(0, schemeLen);
  U16 lower;
  for (char16_t ch : a.scheme) lower += Lower(ch);
  const SchemeInfo* info = FindScheme(lower);
  a.nScheme = info ? info->scheme : INTERNET_SCHEME_UNKNOWN;
  a.port = info ? info->port : 0;
  size_t pos = schemeLen + 1;
  // Empty parts point at the place where they would stand.
  a.user = a.password = a.host = a.portText = in.substr(pos, 0);
  a.hasAuthority = in.substr(pos, 2) == u"//";
  if (a.hasAuthority) {
    pos += 2;
    size_t authEnd = in.find_first_of(u"/?#", pos);
    if (authEnd == std::u16string_view::npos) authEnd = in.size();
    std::u16string_view authority = in.substr(pos, authEnd - pos);
    a.user = a.password = a.host = a.portText = in.substr(pos, 0);
    size_t at = authority.rfind(u'@');
    size_t hostStart = 0;
    if (at != std::u16string_view::npos) {
      std::u16string_view info = authority.substr(0, at);
      if (!IsUserInfo(info)) return false;
      a.hasUserInfo = true;
      size_t colon = info.find(u':');
      a.user = info.substr(0, colon);
      if (colon != std::u16string_view::npos) {
        a.hasPassword = true;
        a.password = info.substr(colon + 1);
      }
      hostStart = at + 1;
    }
    std::u16string_view hostPort = authority.substr(hostStart);
    size_t portAt;
    if (!hostPort.empty() && hostPort[0] == u'[') {
      size_t close = hostPort.find(u']');
      if (close == std::u16string_view::npos) return false;
      a.ipLiteral = true;
      a.host = hostPort.substr(1, close - 1);
      if (!IsIpv6Literal(a.host)) return false;
      portAt = close + 1;
      if (portAt < hostPort.size() && hostPort[portAt] != u':') return false;
    } else {
      portAt = hostPort.find(u':');
      if (portAt == std::u16string_view::npos) portAt = hostPort.size();
      a.host = hostPort.substr(0, portAt);
      if (!IsHostName(a.host)) return false;
    }
    if (portAt < hostPort.size()) {
      a.hasPort = true;
      a.portText = hostPort.substr(portAt + 1);
      if (!a.portText.empty()) {
        uint32_t value = 0;
        for (char16_t ch : a.portText) {
          if (!IsDigit(ch)) return false;
          value = value * 10 + (ch - u'0');
          if (value > INTERNET_MAX_PORT_NUMBER_VALUE) return false;
        }
        // Port 0 is no port a connection can be made to.
        if (value == 0) return false;
        a.port = static_cast<INTERNET_PORT>(value);
      }
    } else {
      a.portText = hostPort.substr(hostPort.size(), 0);
    }
    pos = authEnd;
  }
  if (NeedsHost(a.nScheme) && (!a.hasAuthority || a.host.empty())) return false;
  size_t extraStart = in.find_first_of(u"?#", pos);
  if (extraStart == std::u16string_view::npos) extraStart = in.size();
  a.path = in.substr(pos, extraStart - pos);
  a.extra = in.substr(extraStart);
  return true;
}

std::u16string AssembleInternetAddress(const InternetAddress& a) {
  U16 out(a.scheme);
  out += u':';
  if (a.hasAuthority) {
    out += u"//";
    if (a.hasUserInfo) {
      out += a.user;
      if (a.hasPassword) {
        out += u':';
        out += a.password;
      }
      out += u'@';
    }
    if (a.ipLiteral) out += u'[';
    out += a.host;
    if (a.ipLiteral) out += u']';
    if (a.hasPort) {
      out += u':';
      out += a.portText;
    }
  }
  out += a.path;
  out += a.extra;
  return out;
}

std::u16string InternetAddressKey(std::u16string_view text) {
  InternetAddress a;
  if (!ParseInternetAddress(text, a)) return U16(text);
  U16 scheme, host, port;
  for (char16_t ch : a.scheme) scheme += Lower(ch);
  for (char16_t ch : a.host) host += Lower(ch);
  const SchemeInfo* info = FindScheme(scheme);
  bool defaultPort = !a.hasPort || a.portText.empty() || (info && info->port == a.port);
  if (!defaultPort)
    for (char ch : std::to_string(a.port)) port += static_cast<char16_t>(ch);
  InternetAddress k = a;
  k.scheme = scheme;
  k.host = host;
  k.hasPort = !defaultPort;
  k.portText = port;
  return AssembleInternetAddress(k);
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
  std::u16string_view in(url, n);
  if (SchemeLength(in) == 0) return Fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
  InternetAddress a;
  if (!ParseInternetAddress(in, a)) return Fail(ERROR_INTERNET_INVALID_URL);
  c->nScheme = a.nScheme;
  auto give = [&](std::u16string_view part, LPWSTR& ptr, DWORD& size) {
    return Give(url, static_cast<size_t>(part.data() - url), part.size(), ptr, size);
  };
  if (!give(a.scheme, c->lpszScheme, c->dwSchemeLength)) return FALSE;
  bool wantExtra = c->lpszExtraInfo != nullptr || c->dwExtraInfoLength != 0;
  // Without the extra information asked for, it stays part of the path.
  std::u16string_view path = wantExtra ? a.path : std::u16string_view(a.path.data(), a.path.size() + a.extra.size());
  if (!give(a.host, c->lpszHostName, c->dwHostNameLength)) return FALSE;
  if (!give(a.user, c->lpszUserName, c->dwUserNameLength)) return FALSE;
  if (!give(a.password, c->lpszPassword, c->dwPasswordLength)) return FALSE;
  if (!give(path, c->lpszUrlPath, c->dwUrlPathLength)) return FALSE;
  if (wantExtra && !give(a.extra, c->lpszExtraInfo, c->dwExtraInfoLength)) return FALSE;
  c->nPort = a.port;
  return TRUE;
}
