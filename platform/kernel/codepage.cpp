#include "kernel/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "kernel/wstring.h"

namespace qk {

namespace {
struct CodePageEntry {
  UINT number;
  const char* iconvName;
  const char* aliases[6];
};

const CodePageEntry kCodePages[] = {
    {CP_UTF8, "UTF-8", {"utf-8", "utf8", nullptr}},
    {1200, "UTF-16LE", {"utf-16", "utf-16le", "ucs-2", nullptr}},
    {1201, "UTF-16BE", {"utf-16be", "unicodefffe", nullptr}},
    {1250, "CP1250", {"windows-1250", "cp1250", "x-cp1250", nullptr}},
    {1251, "CP1251", {"windows-1251", "cp1251", "x-cp1251", nullptr}},
    {1252, "CP1252", {"windows-1252", "cp1252", "x-cp1252", nullptr}},
    {1253, "CP1253", {"windows-1253", "cp1253", nullptr}},
    {1254, "CP1254", {"windows-1254", "cp1254", nullptr}},
    {1255, "CP1255", {"windows-1255", "cp1255", nullptr}},
    {1256, "CP1256", {"windows-1256", "cp1256", nullptr}},
    {1257, "CP1257", {"windows-1257", "cp1257", nullptr}},
    {1258, "CP1258", {"windows-1258", "cp1258", nullptr}},
    {874, "CP874", {"windows-874", "tis-620", nullptr}},
    {708, "ASMO-708", {"asmo-708", nullptr}},
    // The C library has no DOS-720; its Arabic DOS page is the nearest.
    {720, "CP864", {"dos-720", nullptr}},
    {852, "CP852", {"ibm852", "cp852", nullptr}},
    {862, "CP862", {"dos-862", "cp862", nullptr}},
    {866, "CP866", {"cp866", "ibm866", nullptr}},
    {932, "CP932", {"shift_jis", "shift-jis", "sjis", "x-sjis", "windows-31j", nullptr}},
    {936, "CP936", {"gb2312", "gbk", "x-gbk", "cp936", nullptr}},
    {949, "CP949", {"ks_c_5601-1987", "euc-kr", "cp949", nullptr}},
    {950, "CP950", {"big5", "big-5", "cp950", nullptr}},
    {20866, "KOI8-R", {"koi8-r", "koi8r", nullptr}},
    {21866, "KOI8-U", {"koi8-u", nullptr}},
    {20127, "ASCII", {"us-ascii", "ascii", nullptr}},
    {28591, "ISO-8859-1", {"iso-8859-1", "iso8859-1", "latin1", "latin-1", "l1", nullptr}},
    {28592, "ISO-8859-2", {"iso-8859-2", "iso8859-2", "latin2", nullptr}},
    {28593, "ISO-8859-3", {"iso-8859-3", nullptr}},
    {28594, "ISO-8859-4", {"iso-8859-4", nullptr}},
    {28595, "ISO-8859-5", {"iso-8859-5", nullptr}},
    {28596, "ISO-8859-6", {"iso-8859-6", nullptr}},
    {28597, "ISO-8859-7", {"iso-8859-7", nullptr}},
    {28598, "ISO-8859-8", {"iso-8859-8", nullptr}},
    {38598, "ISO-8859-8", {"iso-8859-8-i", nullptr}},
    {28599, "ISO-8859-9", {"iso-8859-9", "latin5", nullptr}},
    {28605, "ISO-8859-15", {"iso-8859-15", "latin9", nullptr}},
    {51932, "EUC-JP", {"euc-jp", nullptr}},
    // HZ is GB2312 in 7 bits: decoded through EUC-CN (see FromHz), encoded
    // as plain GB2312, the nearest form the C library has.
    {52936, "EUC-CN", {"hz-gb-2312", nullptr}},
    {54936, "GB18030", {"gb18030", nullptr}},
    {50220, "ISO-2022-JP", {"iso-2022-jp", nullptr}},
};
}  // namespace

const char* CodePageName(UINT codePage) {
  for (const auto& e : kCodePages) {
    if (e.number == codePage) return e.iconvName;
  }
  return nullptr;
}

UINT CodePageFromCharset(const char* name) {
  if (!name) return 0;
  for (const auto& e : kCodePages) {
    for (const char* const* a = e.aliases; *a; ++a) {
      if (strcasecmp(*a, name) == 0) return e.number;
    }
  }
  return 0;
}

}  // namespace qk

namespace {

// windows-1252 as the platform decodes it: the five bytes that the code
// page leaves undefined become the control characters of the same value.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::u16string FromCp1252(const char* src, size_t n) {
  std::u16string out(n, u'\0');
  for (size_t i = 0; i < n; ++i) {
    unsigned char b = static_cast<unsigned char>(src[i]);
    out[i] = (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : char16_t(b);
  }
  return out;
}

// Wide text into windows-1252, the inverse of FromCp1252: every character
// that reads from a byte writes back as that byte; any other character
// (a surrogate pair counts as one) becomes the default text.
std::string ToCp1252(const char16_t* src, size_t n, const std::string& defaultText, bool* replaced) {
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    char16_t c = src[i];
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out += char(c);
      continue;
    }
    const char16_t* at = std::find(kCp1252High, kCp1252High + 32, c);
    if (at != kCp1252High + 32) {
      out += char(0x80 + (at - kCp1252High));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && src[i + 1] >= 0xDC00 && src[i + 1] <= 0xDFFF) ++i;
    out += defaultText;
    *replaced = true;
  }
  return out;
}

// HZ to EUC-CN: "~{" enters GB mode, "~}" leaves it, "~~" is a tilde and
// "~" before a line feed joins the lines; in GB mode each byte pair is a
// GB2312 character with its high bits cleared.
std::string FromHz(const char* src, size_t n) {
  std::string out;
  out.reserve(n);
  bool gb = false;
  for (size_t i = 0; i < n; ++i) {
    char c = src[i];
    if (c == '~' && i + 1 < n) {
      char next = src[i + 1];
      if (next == '{') { gb = true; ++i; continue; }
      if (next == '}') { gb = false; ++i; continue; }
      if (next == '~') { out += '~'; ++i; continue; }
      if (next == '\n') { ++i; continue; }
    }
    if (gb && c != '\n' && c != '\r' && i + 1 < n) {
      out += static_cast<char>(c | 0x80);
      out += static_cast<char>(src[i + 1] | 0x80);
      ++i;
      continue;
    }
    out += c;
  }
  return out;
}

bool IsUtf8Page(UINT cp) { return cp == CP_ACP || cp == CP_UTF8 || cp == CP_OEMCP || cp == CP_THREAD_ACP || cp == CP_MACCP; }

// Converts with iconv; each sequence that does not convert becomes the
// replacement (U+FFFD into wide text, '?' into 8-bit text).
bool IconvConvert(const char* from, const char* to, const char* in, size_t inLen, std::string& out,
                  const std::string& replacement, size_t unitIn, bool* replaced) {
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return false;
  out.clear();
  char buf[4096];
  char* inp = const_cast<char*>(in);
  size_t inLeft = inLen;
  while (inLeft > 0) {
    char* outp = buf;
    size_t outLeft = sizeof buf;
    size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    out.append(buf, size_t(outp - buf));
    if (r == (size_t)-1) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: skip one input unit and put the replacement.
      out += replacement;
      if (replaced) *replaced = true;
      size_t skip = unitIn < inLeft ? unitIn : inLeft;
      inp += skip;
      inLeft -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  char* outp = buf;
  size_t outLeft = sizeof buf;
  iconv(cd, nullptr, nullptr, &outp, &outLeft);
  out.append(buf, size_t(outp - buf));
  iconv_close(cd);
  return true;
}

}  // namespace

UINT GetACP() { return CP_UTF8; }

BOOL IsValidCodePage(UINT codePage) { return IsUtf8Page(codePage) || qk::CodePageName(codePage) != nullptr; }

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int dstLen) {
  if (!src || dstLen < 0 || (dstLen > 0 && !dst)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // A terminated text is converted without its terminator, which is then
  // added: a stateful or multi-byte page must not swallow it.
  const bool terminated = srcLen < 0;
  size_t n = terminated ? strlen(src) : size_t(srcLen);
  std::u16string wide;
  if (IsUtf8Page(codePage)) {
    // A surrogate on its own is no character: U+FFFD takes its place.
    wide = qk::FromUtf8(src, n);
    qk::ReplaceLoneSurrogates(wide.data(), wide.size());
    if ((flags & MB_ERR_INVALID_CHARS) && wide.find(u'\xFFFD') != std::u16string::npos &&
        qk::ToUtf8(wide) != std::string(src, n)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  } else if (codePage == 1252) {
    wide = FromCp1252(src, n);
  } else {
    const char* name = qk::CodePageName(codePage);
    if (!name) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    std::string hz;
    if (codePage == 52936) {
      hz = FromHz(src, n);
      src = hz.data();
      n = hz.size();
    }
    std::string bytes;
    // What does not convert is skipped a byte at a time, but a unit at a
    // time in UTF-16, whose characters stay on their byte pairs.
    const size_t unit = codePage == 1200 || codePage == 1201 ? 2 : 1;
    if (!IconvConvert(name, "UTF-16LE", src, n, bytes, std::string("\xFD\xFF", 2), unit, nullptr)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    wide.resize(bytes.size() / 2);
    for (size_t i = 0; i < wide.size(); ++i)
      wide[i] = char16_t(static_cast<unsigned char>(bytes[2 * i]) | (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    qk::ReplaceLoneSurrogates(wide.data(), wide.size());
  }
  if (terminated) wide.push_back(u'\0');
  if (dstLen == 0) return int(wide.size());
  if (wide.size() > size_t(dstLen)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  memcpy(dst, wide.data(), wide.size() * sizeof(char16_t));
  return int(wide.size());
}

int WideCharToMultiByte(UINT codePage, DWORD /*flags*/, LPCWSTR src, int srcLen, LPSTR dst, int dstLen,
                        LPCSTR defaultChar, LPBOOL usedDefault) {
  if (!src || dstLen < 0 || (dstLen > 0 && !dst)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = srcLen < 0 ? wcslen(src) + 1 : size_t(srcLen);
  std::string bytes;
  bool replaced = false;
  if (IsUtf8Page(codePage)) {
    // A surrogate on its own has no UTF-8 form: it is written as U+FFFD, so
    // the bytes are always well-formed UTF-8.
    std::u16string units(src, n);
    qk::ReplaceLoneSurrogates(units.data(), units.size());
    bytes = qk::ToUtf8(units);
  } else if (codePage == 1252) {
    bytes = ToCp1252(src, n, defaultChar ? std::string(defaultChar) : std::string("?"), &replaced);
  } else {
    const char* name = qk::CodePageName(codePage);
    if (!name) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    std::string in(n * 2, '\0');
    for (size_t i = 0; i < n; ++i) {
      in[2 * i] = char(src[i] & 0xFF);
      in[2 * i + 1] = char(src[i] >> 8);
    }
    std::string repl = defaultChar ? std::string(defaultChar, strlen(defaultChar)) : std::string("?");
    if (!IconvConvert("UTF-16LE", name, in.data(), in.size(), bytes, repl, 2, &replaced)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
  }
  if (usedDefault) *usedDefault = replaced ? TRUE : FALSE;
  if (dstLen == 0) return int(bytes.size());
  if (bytes.size() > size_t(dstLen)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  memcpy(dst, bytes.data(), bytes.size());
  return int(bytes.size());
}
