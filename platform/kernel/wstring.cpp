#include "kernel/wstring.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

size_t wcslen(const char16_t* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

size_t wcsnlen(const char16_t* s, size_t max) {
  size_t n = 0;
  while (n < max && s[n]) ++n;
  return n;
}

char16_t* wcscpy(char16_t* d, const char16_t* s) {
  char16_t* r = d;
  while ((*d++ = *s++)) {
  }
  return r;
}

char16_t* wcsncpy(char16_t* d, const char16_t* s, size_t n) {
  size_t i = 0;
  for (; i < n && s[i]; ++i) d[i] = s[i];
  for (; i < n; ++i) d[i] = 0;
  return d;
}

char16_t* wcscat(char16_t* d, const char16_t* s) {
  wcscpy(d + wcslen(d), s);
  return d;
}

char16_t* wcsncat(char16_t* d, const char16_t* s, size_t n) {
  char16_t* p = d + wcslen(d);
  size_t i = 0;
  for (; i < n && s[i]; ++i) p[i] = s[i];
  p[i] = 0;
  return d;
}

int wcscmp(const char16_t* a, const char16_t* b) {
  while (*a && *a == *b) {
    ++a;
    ++b;
  }
  return (int)*a - (int)*b;
}

int wcsncmp(const char16_t* a, const char16_t* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i] || !a[i]) return (int)a[i] - (int)b[i];
  }
  return 0;
}

WCHAR towlower16(WCHAR c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? WCHAR(c + 32) : c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return WCHAR(c + 32);
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A: pairs, upper case on the even code (with exceptions
    // around U+0138 and U+0178 handled by the odd ranges).
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? WCHAR(c + 1) : c;
    if (c == 0x178) return 0xFF;
    if (c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) return (c & 1) ? c : WCHAR(c + 1);
    return c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return WCHAR(c + 32);   // Greek
  if (c >= 0x410 && c <= 0x42F) return WCHAR(c + 32);                 // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return WCHAR(c + 80);
  if (c >= 0xFF21 && c <= 0xFF3A) return WCHAR(c + 32);               // full-width
  return c;
}

WCHAR towupper16(WCHAR c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? WCHAR(c - 32) : c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return WCHAR(c - 32);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : WCHAR(c - 1);
    if (c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) return (c & 1) ? WCHAR(c - 1) : c;
    return c;
  }
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return WCHAR(c - 32);
  if (c >= 0x430 && c <= 0x44F) return WCHAR(c - 32);
  if (c >= 0x450 && c <= 0x45F) return WCHAR(c - 80);
  if (c >= 0xFF41 && c <= 0xFF5A) return WCHAR(c - 32);
  return c;
}

bool iswspace16(WCHAR c) { return c == ' ' || (c >= 9 && c <= 13); }
bool iswdigit16(WCHAR c) { return c >= '0' && c <= '9'; }
bool iswalpha16(WCHAR c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c != 0xD7 && c != 0xF7 && towlower16(c) != towupper16(c));
}
bool iswalnum16(WCHAR c) { return iswdigit16(c) || iswalpha16(c); }
bool iswxdigit16(WCHAR c) { return iswdigit16(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

int _wcsicmp(const char16_t* a, const char16_t* b) {
  for (;; ++a, ++b) {
    WCHAR x = towlower16(*a), y = towlower16(*b);
    if (x != y || !x) return (int)x - (int)y;
  }
}

int _wcsnicmp(const char16_t* a, const char16_t* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    WCHAR x = towlower16(a[i]), y = towlower16(b[i]);
    if (x != y || !x) return (int)x - (int)y;
  }
  return 0;
}

const char16_t* wcschr(const char16_t* s, char16_t c) {
  for (;; ++s) {
    if (*s == c) return s;
    if (!*s) return nullptr;
  }
}
char16_t* wcschr(char16_t* s, char16_t c) { return const_cast<char16_t*>(wcschr(static_cast<const char16_t*>(s), c)); }

const char16_t* wcsrchr(const char16_t* s, char16_t c) {
  const char16_t* r = nullptr;
  for (;; ++s) {
    if (*s == c) r = s;
    if (!*s) return r;
  }
}
char16_t* wcsrchr(char16_t* s, char16_t c) { return const_cast<char16_t*>(wcsrchr(static_cast<const char16_t*>(s), c)); }

const char16_t* wcsstr(const char16_t* s, const char16_t* sub) {
  if (!*sub) return s;
  size_t n = wcslen(sub);
  for (; *s; ++s) {
    if (*s == *sub && wcsncmp(s, sub, n) == 0) return s;
  }
  return nullptr;
}
char16_t* wcsstr(char16_t* s, const char16_t* sub) { return const_cast<char16_t*>(wcsstr(static_cast<const char16_t*>(s), sub)); }

const char16_t* wcspbrk(const char16_t* s, const char16_t* set) {
  for (; *s; ++s) {
    if (wcschr(set, *s)) return s;
  }
  return nullptr;
}
char16_t* wcspbrk(char16_t* s, const char16_t* set) { return const_cast<char16_t*>(wcspbrk(static_cast<const char16_t*>(s), set)); }

size_t wcsspn(const char16_t* s, const char16_t* set) {
  size_t n = 0;
  while (s[n] && wcschr(set, s[n])) ++n;
  return n;
}

size_t wcscspn(const char16_t* s, const char16_t* set) {
  size_t n = 0;
  while (s[n] && !wcschr(set, s[n])) ++n;
  return n;
}

char16_t* _wcslwr(char16_t* s) {
  for (char16_t* p = s; *p; ++p) *p = towlower16(*p);
  return s;
}

char16_t* _wcsupr(char16_t* s) {
  for (char16_t* p = s; *p; ++p) *p = towupper16(*p);
  return s;
}

char16_t* _wcsdup(const char16_t* s) {
  size_t n = wcslen(s) + 1;
  auto* d = static_cast<char16_t*>(malloc(n * sizeof(char16_t)));
  if (d) memcpy(d, s, n * sizeof(char16_t));
  return d;
}

namespace {

// Narrow copy of the ASCII prefix relevant to number parsing.
std::string NumberPrefix(const char16_t* s, size_t* consumedUnits) {
  std::string out;
  size_t i = 0;
  for (; s[i] && s[i] < 0x80; ++i) {
    out.push_back(char(s[i]));
    if (out.size() > 400) break;
  }
  if (consumedUnits) *consumedUnits = i;
  return out;
}

}  // namespace

long wcstol(const char16_t* s, char16_t** end, int base) {
  std::string n = NumberPrefix(s, nullptr);
  char* e = nullptr;
  long v = strtol(n.c_str(), &e, base);
  if (end) *end = const_cast<char16_t*>(s + (e - n.c_str()));
  return v;
}

unsigned long wcstoul(const char16_t* s, char16_t** end, int base) {
  std::string n = NumberPrefix(s, nullptr);
  char* e = nullptr;
  unsigned long v = strtoul(n.c_str(), &e, base);
  if (end) *end = const_cast<char16_t*>(s + (e - n.c_str()));
  return v;
}

double wcstod(const char16_t* s, char16_t** end) {
  std::string n = NumberPrefix(s, nullptr);
  char* e = nullptr;
  double v = strtod(n.c_str(), &e);
  if (end) *end = const_cast<char16_t*>(s + (e - n.c_str()));
  return v;
}

int _wtoi(const char16_t* s) {
  long v = wcstol(s, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return int(v);
}
long _wtol(const char16_t* s) { return wcstol(s, nullptr, 10); }
long long _wtoi64(const char16_t* s) {
  std::string n = NumberPrefix(s, nullptr);
  return strtoll(n.c_str(), nullptr, 10);
}
double _wtof(const char16_t* s) { return wcstod(s, nullptr); }

namespace qk {

std::u16string LowerCase(std::u16string s) {
  for (auto& c : s) c = towlower16(c);
  return s;
}

std::vector<std::u16string> SplitPath(const std::u16string& path, const char16_t* separators) {
  std::vector<std::u16string> parts;
  std::u16string cur;
  for (char16_t c : path) {
    if (wcschr(separators, c) && c) {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

std::string ToUtf8(const char16_t* s, size_t n) {
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out.push_back(char(c));
    } else if (c < 0x800) {
      out.push_back(char(0xC0 | (c >> 6)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(char(0xE0 | (c >> 12)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else {
      out.push_back(char(0xF0 | (c >> 18)));
      out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::string ToUtf8(const std::u16string& s) { return ToUtf8(s.data(), s.size()); }

std::u16string FromUtf8(const char* p, size_t n) {
  std::u16string out;
  out.reserve(n);
  const auto* s = reinterpret_cast<const unsigned char*>(p);
  size_t i = 0;
  while (i < n) {
    unsigned char b = s[i];
    uint32_t c;
    size_t len;
    if (b < 0x80) {
      // A run of ASCII (most of a page): found eight bytes at a time and
      // widened in one go.
      size_t end = i + 1;
      for (uint64_t word; end + 8 <= n; end += 8) {
        std::memcpy(&word, s + end, 8);
        if (word & 0x8080808080808080ull) break;
      }
      while (end < n && s[end] < 0x80) ++end;
      size_t at = out.size();
      out.resize(at + (end - i));
      char16_t* d = out.data() + at;
      for (size_t k = i; k < end; ++k) *d++ = s[k];
      i = end;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      len = 4;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    bool ok = true;
    size_t k = 1;
    for (; k < len && i + k < n; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (s[i + k] & 0x3F);
    }
    if (!ok) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (k < len) {
      // Cut short by the end of the text: what is left is continuation bytes.
      out.push_back(0xFFFD);
      break;
    }
    i += len;
    static const uint32_t kShortest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kShortest[len] || c > 0x10FFFF) {
      out.push_back(0xFFFD);
    } else if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(char16_t(0xD800 + (c >> 10)));
      out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(char16_t(c));
    }
  }
  return out;
}

size_t ReplaceLoneSurrogates(char16_t* s, size_t n) {
  size_t replaced = 0;
  for (size_t i = 0; i < n; ++i) {
    char16_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      s[i] = 0xFFFD;
      ++replaced;
    }
  }
  return replaced;
}

std::u16string FromUtf8(const std::string& s) { return FromUtf8(s.data(), s.size()); }

namespace {

void AppendAscii(std::u16string& out, const char* s, size_t n) {
  for (size_t i = 0; i < n; ++i) out.push_back(char16_t(static_cast<unsigned char>(s[i])));
}

void Pad(std::u16string& out, const std::u16string& body, int width, bool left, char16_t padChar) {
  int padn = width - int(body.size());
  if (padn > 0 && !left) out.append(size_t(padn), padChar);
  out += body;
  if (padn > 0 && left) out.append(size_t(padn), u' ');
}

// The C conversion that prints one numeric field of a wide format.
std::string NarrowSpec(const std::string& flags, int width, int precision, const char* size, char16_t conv) {
  std::string f(1, '%');
  f.append(flags);
  if (width >= 0) f += std::to_string(width);
  if (precision >= 0) {
    f.push_back('.');
    f += std::to_string(precision);
  }
  f += size;
  f.push_back(char(conv));
  return f;
}

}  // namespace

void FormatAppendV(std::u16string& out, const char16_t* fmt, va_list ap) {
  va_list args;
  va_copy(args, ap);
  for (const char16_t* p = fmt; *p; ++p) {
    if (*p != u'%') {
      out.push_back(*p);
      continue;
    }
    const char16_t* start = p;
    ++p;
    if (*p == u'%') {
      out.push_back(u'%');
      continue;
    }
    std::string flags;
    while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'#' || *p == u'0') flags.push_back(char(*p++));
    int width = -1;
    if (*p == u'*') {
      width = va_arg(args, int);
      if (width < 0) {
        flags.push_back('-');
        width = -width;
      }
      ++p;
    } else {
      while (iswdigit16(*p)) width = (width < 0 ? 0 : width * 10) + (*p++ - u'0');
    }
    int precision = -1;
    if (*p == u'.') {
      ++p;
      precision = 0;
      if (*p == u'*') {
        precision = va_arg(args, int);
        ++p;
      } else {
        while (iswdigit16(*p)) precision = precision * 10 + (*p++ - u'0');
      }
    }
    // Size prefix: 0 int, 1 long, 2 long long, -1 short, -2 char, 3 size_t
    int size = 0;
    bool forceNarrow = false, forceWide = false;
    if (*p == u'h') {
      ++p;
      if (*p == u'h') {
        ++p;
        size = -2;
      } else {
        size = -1;
      }
      forceNarrow = true;
    } else if (*p == u'l') {
      ++p;
      if (*p == u'l') {
        ++p;
        size = 2;
      } else {
        size = 1;
      }
      forceWide = true;
    } else if (*p == u'I' && p[1] == u'6' && p[2] == u'4') {
      p += 3;
      size = 2;
    } else if (*p == u'I' && p[1] == u'3' && p[2] == u'2') {
      p += 3;
      size = 0;
    } else if (*p == u'z' || *p == u'j' || *p == u't') {
      ++p;
      size = 3;
    } else if (*p == u'L') {
      ++p;
    }
    char16_t conv = *p;
    if (!conv) {
      out.append(start, p);
      break;
    }
    bool left = flags.find('-') != std::string::npos;
    switch (conv) {
      case u's':
      case u'S': {
        bool wide = (conv == u's');
        if (forceNarrow) wide = false;
        if (forceWide) wide = true;
        std::u16string body;
        if (wide) {
          const char16_t* s = va_arg(args, const char16_t*);
          if (!s) s = u"(null)";
          size_t n = precision >= 0 ? wcsnlen(s, size_t(precision)) : wcslen(s);
          body.assign(s, n);
        } else {
          const char* s = va_arg(args, const char*);
          if (!s) s = "(null)";
          size_t n = precision >= 0 ? strnlen(s, size_t(precision)) : strlen(s);
          body = FromUtf8(s, n);
        }
        Pad(out, body, width, left, u' ');
        break;
      }
      case u'c':
      case u'C': {
        int v = va_arg(args, int);
        std::u16string body;
        bool wide = (conv == u'c');
        if (forceNarrow) wide = false;
        if (forceWide) wide = true;
        if (wide) {
          body.push_back(char16_t(v));
        } else {
          body.push_back(char16_t(static_cast<unsigned char>(v)));
        }
        Pad(out, body, width, left, u' ');
        break;
      }
      case u'd':
      case u'i':
      case u'u':
      case u'x':
      case u'X':
      case u'o': {
        std::string f = NarrowSpec(flags, width, precision, "ll", conv);
        char buf[128];
        bool isSigned = (conv == u'd' || conv == u'i');
        if (isSigned) {
          long long v;
          if (size == 2) v = va_arg(args, long long);
          else if (size == 1) v = va_arg(args, long);
          else if (size == 3) v = (long long)va_arg(args, ptrdiff_t);
          else v = va_arg(args, int);
          if (size == -1) v = (short)v;
          if (size == -2) v = (signed char)v;
          snprintf(buf, sizeof buf, f.c_str(), v);
        } else {
          unsigned long long v;
          if (size == 2) v = va_arg(args, unsigned long long);
          else if (size == 1) v = va_arg(args, unsigned long);
          else if (size == 3) v = va_arg(args, size_t);
          else v = va_arg(args, unsigned int);
          if (size == -1) v = (unsigned short)v;
          if (size == -2) v = (unsigned char)v;
          snprintf(buf, sizeof buf, f.c_str(), v);
        }
        AppendAscii(out, buf, strlen(buf));
        break;
      }
      case u'e':
      case u'E':
      case u'f':
      case u'F':
      case u'g':
      case u'G':
      case u'a':
      case u'A': {
        std::string f = NarrowSpec(flags, width, precision, "", conv);
        double v = va_arg(args, double);
        char buf[512];
        snprintf(buf, sizeof buf, f.c_str(), v);
        AppendAscii(out, buf, strlen(buf));
        break;
      }
      case u'p': {
        void* v = va_arg(args, void*);
        char buf[64];
        snprintf(buf, sizeof buf, "%0*llX", int(sizeof(void*) * 2), (unsigned long long)(uintptr_t)v);
        std::u16string body;
        AppendAscii(body, buf, strlen(buf));
        Pad(out, body, width, left, u' ');
        break;
      }
      case u'n': {
        int* v = va_arg(args, int*);
        if (v) *v = int(out.size());
        break;
      }
      default:
        out.append(start, p + 1);
        break;
    }
  }
  va_end(args);
}

std::u16string Format(const char16_t* fmt, ...) {
  std::u16string out;
  va_list ap;
  va_start(ap, fmt);
  FormatAppendV(out, fmt, ap);
  va_end(ap);
  return out;
}

}  // namespace qk

int vswprintf(char16_t* buf, size_t count, const char16_t* fmt, va_list args) {
  if (!buf || count == 0) return -1;
  std::u16string out;
  qk::FormatAppendV(out, fmt, args);
  if (out.size() + 1 > count) {
    memcpy(buf, out.data(), (count - 1) * sizeof(char16_t));
    buf[count - 1] = 0;
    return -1;
  }
  memcpy(buf, out.data(), out.size() * sizeof(char16_t));
  buf[out.size()] = 0;
  return int(out.size());
}

int swprintf(char16_t* buf, size_t count, const char16_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int r = vswprintf(buf, count, fmt, ap);
  va_end(ap);
  return r;
}

int _snwprintf(char16_t* buf, size_t count, const char16_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int r = vswprintf(buf, count, fmt, ap);
  va_end(ap);
  return r;
}

int wsprintfW(char16_t* buf, const char16_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int r = vswprintf(buf, 1024, fmt, ap);
  va_end(ap);
  return r;
}

int swscanf(const char16_t* s, const char16_t* fmt, ...) {
  // Numeric scanning only: both texts are narrowed (non-ASCII units become
  // a byte that no numeric directive accepts) and handed to vsscanf.
  auto narrow = [](const char16_t* w) {
    std::string n;
    for (; *w; ++w) n.push_back(*w < 0x80 ? char(*w) : '\x7f');
    return n;
  };
  std::string ns = narrow(s), nf = narrow(fmt);
  va_list ap;
  va_start(ap, fmt);
  int r = vsscanf(ns.c_str(), nf.c_str(), ap);
  va_end(ap);
  return r;
}
